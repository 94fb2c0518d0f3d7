// Stand-in for Vintrix: each call writes its arguments, each ended by a NUL,
// to the first free file call-1, call-2, ... in the current directory. The
// record is written under a private name first and linked into place, so a
// reader never sees half of it.
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    const std::string draft = ".record-" + std::to_string(getpid());
    {
        std::ofstream out(draft, std::ios::binary);
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\0';
        if (!out.flush())
            return 1;
    }
    int n = 0, linked = -1;
    while ((linked = link(draft.c_str(), ("call-" + std::to_string(++n)).c_str())) != 0 && errno == EEXIST) {}
    if (linked != 0)
        std::perror("call");
    unlink(draft.c_str());
    return linked == 0 ? 0 : 1;
}
