#include "published_link.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace queltor::devsim {

namespace {

std::string reason(int error) { return std::strerror(error); }

std::string makeParents(const std::string &path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return "cannot create the folder " + folder + ": " + reason(errno);
    }
    return {};
}

} // namespace

std::string publishLink(const std::string &path, const std::string &target)
{
    struct stat existing
    { };
    if (::lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        return path + " exists and is not a symbolic link; it is left alone";

    if (std::string error = makeParents(path); !error.empty())
        return error;

    // Built aside and renamed over the old link, so that a reader never finds the name missing.
    const std::string aside = path + ".new-" + std::to_string(::getpid());
    ::unlink(aside.c_str());
    if (::symlink(target.c_str(), aside.c_str()) != 0)
        return "cannot create the link " + aside + ": " + reason(errno);
    if (::rename(aside.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(aside.c_str());
        return "cannot create the link " + path + ": " + reason(error);
    }
    return {};
}

void withdrawLink(const std::string &path, const std::string &target)
{
    char buffer[4096];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (length < 0)
        return;
    if (std::string(buffer, static_cast<std::size_t>(length)) == target)
        ::unlink(path.c_str());
}

} // namespace queltor::devsim
