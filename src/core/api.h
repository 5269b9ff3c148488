// Export marker of the library's public classes.
#pragma once
#ifdef HOSTKEEPER_EXPORTS
#define HOSTKEEPER_API __declspec(dllexport)
#else
#define HOSTKEEPER_API __declspec(dllimport)
#endif
