// The changes of a timeline, gathered in time order.
#include "timeline.h"

#include <stdlib.h>
#include <string.h>

namespace pbview {

void timeline_add(void *ctx, const Change &change) {
    auto *t = static_cast<Timeline *>(ctx);
    if (t->count == t->capacity) {
        int capacity = t->capacity == 0 ? 256 : t->capacity * 2;
        void *grown = realloc(t->changes, static_cast<size_t>(capacity) * sizeof *t->changes);
        if (grown == nullptr) {
            t->out_of_memory = true;
            return;
        }
        t->changes = static_cast<TimelineChange *>(grown);
        t->capacity = capacity;
    }
    // Each change goes after every one of the same time or earlier, so the
    // list stays in time order and equal times keep their order.
    int at = t->count;
    while (at > 0 && t->changes[at - 1].ms > change.ms) {
        --at;
    }
    memmove(&t->changes[at + 1], &t->changes[at],
            static_cast<size_t>(t->count - at) * sizeof *t->changes);
    ++t->count;
    TimelineChange &c = t->changes[at];
    c.ms = change.ms;
    c.row = change.row;
    copy_text(c.text, change.value);
}

void timeline_free(Timeline *t) {
    free(t->changes);
    t->changes = nullptr;
    t->count = t->capacity = 0;
}

}  // namespace pbview
