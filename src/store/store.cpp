#include "store/store.h"

#include <devmgr.h>

int dev_manager_cfg_get(const char *key, char *value, size_t size) {
    return devmgr_cfg_get(key, value, size);
}

int dev_manager_status_set(const char *key, const char *value) {
    return devmgr_status_set(key, value);
}
