/*
 * json.h - JSON <-> blobmsg for the bus command-line tool
 */
#ifndef UBUS_SIM_JSON_H
#define UBUS_SIM_JSON_H

#include <libubox/blobmsg.h>
#include <stdbool.h>
#include <stdio.h>

/* Adds the members of a JSON object text to b as blobmsg fields: strings,
 * integers (INT32 when they fit, else INT64), doubles, booleans (INT8), null
 * (UNSPEC), nested objects (TABLE) and arrays (ARRAY). Returns false if the
 * text is not one JSON object. */
bool json_to_blobmsg(struct blob_buf *b, const char *text);

/* Writes the fields of attr (a root, table or array) as a JSON object
 * (array for an array). indent < 0: compact, {"a":1,"b":"x"}; indent >= 0:
 * one member per line, tab-indented, starting at that depth. */
void json_print(FILE *out, const struct blob_attr *attr, bool array, int indent);

#endif
