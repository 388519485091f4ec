/*
 * avl.h - the tree node embedded in bus objects
 *
 * Only the node type is provided: libubus keeps its objects through it.
 * No extern "C" guard, like the device's libubox headers.
 */
#ifndef __LIBUBOX_AVL_H
#define __LIBUBOX_AVL_H

#include <stdbool.h>
#include <stddef.h>

#include "list.h"

struct avl_node {
    struct list_head list;
    struct avl_node *parent;
    struct avl_node *left;
    struct avl_node *right;
    const void *key;
    signed char balance;
    bool leader;
};

#endif
