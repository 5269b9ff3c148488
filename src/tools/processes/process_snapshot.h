// One Toolhelp snapshot of the running processes, in snapshot order.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include <vector>

namespace hk::processes {

// Empty when the snapshot could not be taken.
std::vector<PROCESSENTRY32W> TakeProcessSnapshot();

}  // namespace hk::processes
