#include "cli/save_file.h"

#include "srecord/srecord_core.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402::Tool {

namespace {

// Links followed to the file itself; a longer chain is taken for a loop.
constexpr int MaxLinks = 127;
// What a new file may be, before the umask.
constexpr mode_t NewFileMode = 0666;
constexpr mode_t PermissionBits = 0777;

std::string systemReason()
{
    return std::strerror(errno);
}

// The file that fileName names through any symbolic links, even one that does not exist yet;
// fileName itself when the chain is too long.
std::string finalFileName(const std::string &fileName)
{
    std::string name = fileName;
    for (int depth = 0; depth < MaxLinks; ++depth) {
        struct stat info;
        if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return name;
        char target[PATH_MAX];
        const ssize_t length = readlink(name.c_str(), target, sizeof target);
        if (length < 0 || size_t(length) >= sizeof target)
            return name;
        const std::string_view link(target, size_t(length));
        // A relative link starts from the link's folder.
        name = link.starts_with('/') ? std::string(link)
                                     : name.substr(0, name.rfind('/') + 1) + std::string(link);
    }
    return fileName;
}

mode_t currentUmask()
{
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

bool writeAll(int fd, std::span<const char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.subspan(size_t(written));
    }
    return true;
}

} // namespace

std::string saveFile(const std::string &fileName, std::span<const char> bytes)
{
    struct stat existing;
    const bool exists = stat(fileName.c_str(), &existing) == 0;
    if (exists && access(fileName.c_str(), W_OK) != 0)
        return "Existing file " + fileName + " is not writable";
    if (exists && S_ISDIR(existing.st_mode))
        return "Filename refers to a directory";
    if (exists && !S_ISREG(existing.st_mode))
        return std::string(NotRegularFile);

    const std::string target = finalFileName(fileName);
    std::string temporary = target + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return systemReason();
    // The new file is private until it has the permissions of the file it replaces.
    const mode_t mode = exists ? existing.st_mode & PermissionBits : NewFileMode & ~currentUmask();
    std::string why;
    // No fsync: the output can be made again from the data file at any time, and the rename
    // alone already keeps a half-written file from ever taking the old one's place.
    if (fchmod(fd, mode) != 0 || !writeAll(fd, bytes))
        why = systemReason();
    if (close(fd) != 0 && why.empty())
        why = systemReason();
    if (why.empty() && std::rename(temporary.c_str(), target.c_str()) != 0)
        why = systemReason();
    if (!why.empty())
        unlink(temporary.c_str());
    return why;
}

std::string outputRefusal(const std::string &input, const std::string &output)
{
    struct stat existing;
    if (stat(output.c_str(), &existing) != 0)
        return {};
    if (!S_ISREG(existing.st_mode))
        return std::string(NotRegularFile);
    // The same file under another name, through a link or a hard link, has the same identity.
    struct stat source;
    if (stat(input.c_str(), &source) == 0 && source.st_dev == existing.st_dev
        && source.st_ino == existing.st_ino) {
        return "it is the input file";
    }
    return {};
}

} // namespace Kv402::Tool
