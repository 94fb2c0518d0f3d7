// Stand-in for Vintrix: each call writes its arguments, each ended by a NUL,
// to the first free file call-1, call-2, ... in the current directory.
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    for (int n = 1;; ++n) {
        const std::string name = "call-" + std::to_string(n);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) {
            continue;
        }
        std::string record;
        for (int i = 1; i < argc; ++i) {
            record += argv[i];
            record += '\0';
        }
        const bool written = write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
        close(fd);
        return written ? 0 : 1;
    }
}
