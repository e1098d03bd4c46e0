#ifndef TESTS_SUPPORT_SHARED_LIBRARY_H
#define TESTS_SUPPORT_SHARED_LIBRARY_H

#include <string>

/* The file the dynamic loader finds for a library's soname here, or "" when
   it finds none. */
std::string FindSharedLibrary(const char *soname);

#endif
