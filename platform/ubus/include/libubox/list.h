/*
 * list.h - intrusive doubly linked lists
 *
 * No extern "C" guard, like the device's libubox headers.
 */
#ifndef __LIBUBOX_LIST_H
#define __LIBUBOX_LIST_H

#include <stdbool.h>
#include <stddef.h>

#include "utils.h"

struct list_head {
    struct list_head *next;
    struct list_head *prev;
};

#define LIST_HEAD_INIT(name) \
    { &(name), &(name) }
#undef LIST_HEAD
#define LIST_HEAD(name) struct list_head name = LIST_HEAD_INIT(name)

static inline void INIT_LIST_HEAD(struct list_head *list) {
    list->next = list->prev = list;
}

static inline bool list_empty(const struct list_head *head) {
    return head->next == head;
}

static inline void _list_add(struct list_head *_new, struct list_head *prev,
                             struct list_head *next) {
    next->prev = _new;
    _new->next = next;
    _new->prev = prev;
    prev->next = _new;
}

static inline void list_add(struct list_head *_new, struct list_head *head) {
    _list_add(_new, head, head->next);
}

static inline void list_add_tail(struct list_head *_new, struct list_head *head) {
    _list_add(_new, head->prev, head);
}

static inline void list_del(struct list_head *entry) {
    entry->next->prev = entry->prev;
    entry->prev->next = entry->next;
    entry->next = entry->prev = NULL;
}

static inline void list_del_init(struct list_head *entry) {
    entry->next->prev = entry->prev;
    entry->prev->next = entry->next;
    INIT_LIST_HEAD(entry);
}

#define list_entry(ptr, type, field) container_of(ptr, type, field)
#define list_first_entry(ptr, type, field) list_entry((ptr)->next, type, field)

#define list_for_each(p, head) for (p = (head)->next; p != (head); p = p->next)
#define list_for_each_safe(p, n, head) \
    for (p = (head)->next, n = p->next; p != (head); p = n, n = p->next)

#endif
