#pragma once
// The interface of vintrix-qt-images, the module that decodes the formats
// other than PNG with Qt's image readers. Vintrix loads it only when the
// images folder holds such a file, so a folder of PNG files never loads Qt.
// Plain C types only: the module and Vintrix share no C++ objects.

extern "C" {

struct VintrixQtRead {
    void* context;
    // The size the file's header announces, before decoding; returns nonzero
    // to go on. Writes its reason into `error` when it stops the decoding.
    int (*announced)(VintrixQtRead* read, int width, int height);
    // Where to put width * height RGBA pixels, rows of width * 4 bytes;
    // null when the memory cannot be had.
    unsigned char* (*pixels)(VintrixQtRead* read, int width, int height);
    char error[512];  // set when vintrix_qt_read returns nonzero
};

// The lower-case names of the formats Qt can read here, separated by spaces.
typedef const char* (*VintrixQtFormatsFn)(void);
// Decodes the regular file open as `fd` (left open), whatever its name
// says; refuses images over `maxPixels` and files that end before their
// image does. Returns 0 on success.
typedef int (*VintrixQtReadFn)(int fd, long long maxPixels, VintrixQtRead* read);
}
