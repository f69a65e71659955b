#pragma once
// Shared libraries opened at run time, and the locale facts a runtime reads
// from the environment when it starts.
#include <QByteArray>
#include <QList>
#include <QString>

namespace platform {

struct LibraryOpenResult {
    void* handle = nullptr; // null when the library could not be opened
    int errorCode = 0;      // errno after a failed open (0 when unset)
    QString error;          // the dynamic loader's own reason, empty on success
};

// Opens a library with every symbol bound now and visible to later libraries
// (a runtime's extension modules find its symbols so). A path without '/'
// goes through the dynamic loader's search. The library is never unmapped,
// and the calling thread's floating-point environment is the same afterwards
// whatever the library's start-up code did to it.
LibraryOpenResult OpenLibrary(const QByteArray& path);
// Address of an exported symbol, or null.
void* LibrarySymbol(void* handle, const char* name);
void CloseLibrary(void* handle);
// The running program's own image, with everything it loaded globally.
void* OpenProgramImage();
// A library that is already loaded, by its file name; never loads one.
void* OpenLoadedLibrary(const QByteArray& file);
// The files of the libraries loaded into the process (at most 1024).
QList<QByteArray> LoadedLibraryFiles();
// True when the code at this address is the program's own, not a library's.
bool AddressInMainProgram(const void* address);
// The loader's text for its last failure; empty when there was none.
QString LastLibraryError();

// The file an open library was loaded from, as the loader found it (a link
// stays a link); empty when unknown.
QString LibraryFileOf(void* handle);

// True when a library of this file name lies in a folder the dynamic loader
// searches (LD_LIBRARY_PATH, then the system's library folders); nothing is
// loaded to find out.
bool SystemLibraryExists(const QString& fileName);

// True when the environment selects the C or POSIX locale for character
// types (LC_ALL, then LC_CTYPE, then LANG; none set means C), as a program
// that calls setlocale(LC_CTYPE, "") would find it.
bool EnvironmentUsesCLocale();

} // namespace platform
