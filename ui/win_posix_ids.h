#pragma once
// Windows has no POSIX user ids. The lock folder's owner check compares
// QFileInfo::ownerId(), which is always -2 there, with getuid(): the same
// value lets a folder in the user's own profile pass, as it should. Only
// compiled into the files that still ask for getuid() on Windows.
#if defined(_WIN32)
inline unsigned int getuid()
{
    return static_cast<unsigned int>(-2);
}
#endif
