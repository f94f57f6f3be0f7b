// kv402: runs the image command itself and hands every other command to kv402-catalogue, which
// holds the commands that need Qt. Without the libraries of Qt, SQLCipher and libmdb the tool
// starts in a fraction of the time, which counts when a build script turns many data files into
// images.

#include "cli/commands.h"

#include "kv402_version.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace Kv402::Tool;

namespace {

// KV402_HELPER names the program with the other commands; it lies beside kv402 in the build
// folder and, once installed, in KV402_HELPER_FOLDER, relative to kv402's folder.
constexpr std::string_view Helper = KV402_HELPER;
constexpr std::string_view InstalledHelperFolder = KV402_HELPER_FOLDER;

// The folder of the running program, wherever it was started from; empty if it cannot be told.
std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || size_t(length) >= sizeof path)
        return {};
    const std::string_view program(path, size_t(length));
    return std::string(program.substr(0, program.rfind('/')));
}

int runHelper(char *argv[])
{
    const std::string folder = programFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "kv402: cannot tell where it is installed: %s\n", std::strerror(errno));
        return Failure;
    }
    const std::string beside = folder + '/' + std::string(Helper);
    const std::string installed = folder + '/' + std::string(InstalledHelperFolder) + '/'
                                  + std::string(Helper);
    for (const std::string &path : {beside, installed}) {
        execv(path.c_str(), argv);
        if (errno != ENOENT) {
            std::fprintf(stderr,
                         "kv402: cannot start \"%s\": %s\n",
                         path.c_str(),
                         std::strerror(errno));
            return Failure;
        }
    }
    std::fprintf(stderr,
                 "kv402: the program that runs this command is missing: neither \"%s\" nor "
                 "\"%s\" exists\n",
                 beside.c_str(),
                 installed.c_str());
    return Failure;
}

// Flushes and closes standard output after a command run here, and returns the exit status to
// use: status as it is when all output was written; Failure in place of Success when the reader
// went away (quietly) or a write failed (saying so on standard error).
int finishOutput(int status, const char *command)
{
    const bool failedBefore = std::ferror(stdout) != 0;
    errno = 0;
    if (std::fclose(stdout) == 0 && !failedBefore)
        return status;
    const int error = errno;
    // A reader that went away wants no more: no message.
    if (error != EPIPE) {
        std::fprintf(stderr,
                     "%s: cannot write the output: %s\n",
                     command,
                     error != 0 ? std::strerror(error) : "a write failed");
    }
    return status == Success ? Failure : status;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool version = argc == 2 && std::strcmp(argv[1], "--version") == 0;
    const bool image = argc > 1 && std::strcmp(argv[1], "image") == 0;
    if (!version && !image)
        return runHelper(argv);
    // A closed pipe ends the output, not the program: the failed write tells.
    std::signal(SIGPIPE, SIG_IGN);
    if (version) {
        std::printf("kv402 %s\n", KV402_VERSION);
        return finishOutput(Success, "kv402");
    }
    return finishOutput(imageCommand({argv + 2, size_t(argc - 2)}), "kv402 image");
}
