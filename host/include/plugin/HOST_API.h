#pragma once

// Symbols of the stand-in host library are exported from one shared object so that the host
// program and every plug-in it loads share a single copy of each class, table and static.
#define HOST_API __attribute__((visibility("default")))

typedef double fpreal;
