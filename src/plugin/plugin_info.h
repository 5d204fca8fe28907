// PLUGININFO: the record with which a plug-in describes itself to the host.
#pragma once

#include <cstddef>
#include <cstdint>

struct PLUGININFO {
    int32_t size;   // 280
    char name[80];  // display name
    char version[30];
    char copyright[162];
    int32_t flag;  // 1
};

static_assert(sizeof(PLUGININFO) == 280, "PLUGININFO is 280 bytes");
static_assert(offsetof(PLUGININFO, name) == 4, "name at 4");
static_assert(offsetof(PLUGININFO, version) == 84, "version at 84");
static_assert(offsetof(PLUGININFO, copyright) == 114, "copyright at 114");
static_assert(offsetof(PLUGININFO, flag) == 276, "flag at 276");
