// The gathering half of a listing, apart from the sampling pause.
#pragma once
#include <json/value.h>

namespace hk::processes {

// Appends one row per process of a fresh snapshot to list (an array), with
// "cpu" from the last sampling pass. May throw (out of memory); rows
// appended before that stay.
void GatherProcessList(Json::Value& list);

}  // namespace hk::processes
