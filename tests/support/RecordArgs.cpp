// Stand-in for Vintrix: each call writes its arguments, each ended by a NUL,
// to the first free file call-1, call-2, ... in the current directory. The
// record is written under a private name first and linked into place, so a
// reader never sees half of it.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    std::string record;
    for (int i = 1; i < argc; ++i) {
        record += argv[i];
        record += '\0';
    }

    const std::string draft = ".record-" + std::to_string(getpid());
    const int fd = open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        return 1;
    }
    const bool written = write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
    if (close(fd) != 0 || !written) {
        unlink(draft.c_str());
        return 1;
    }

    int status = 1;
    for (int n = 1;; ++n) {
        const std::string name = "call-" + std::to_string(n);
        if (link(draft.c_str(), name.c_str()) == 0) {
            status = 0;
            break;
        }
        if (errno != EEXIST) {
            std::perror(name.c_str());
            break;
        }
    }
    unlink(draft.c_str());
    return status;
}
