#include "qt_module.h"

#include <filesystem>
#include <system_error>

#include <dlfcn.h>

namespace vintrix {

const QtModule& qtModule()
{
    static const QtModule module = [] {
        QtModule m;
        std::error_code ec;
        const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        const std::filesystem::path dir = exe.parent_path();
        for (const std::filesystem::path& candidate :
            {dir / "vintrix-qt-images.so", dir / VINTRIX_MODULE_FROM_BIN / "vintrix-qt-images.so"}) {
            // Never closed: Qt and its plugins stay loaded until the process ends.
            void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                if (m.error.empty())
                    m.error = ::dlerror();
                continue;
            }
            m.formats = reinterpret_cast<VintrixQtFormatsFn>(::dlsym(handle, "vintrix_qt_formats"));
            m.read = reinterpret_cast<VintrixQtReadFn>(::dlsym(handle, "vintrix_qt_read"));
            if (m.formats && m.read)
                return m;
            m = {};
            m.error = candidate.string() + " lacks the reader's functions";
        }
        if (m.error.empty())
            m.error = "cannot find vintrix-qt-images.so";
        return m;
    }();
    return module;
}

}  // namespace vintrix
