// Starts processes inside the virtual rig in a given order, paced by their progress rather than
// by time: each child gets a pipe as descriptor 3 (named in QRT_TEST_PROGRESS_FD) on which it
// writes a byte per step of its work. The children's standard output is the conductor's.
//
//   conductor together N -- COMMAND...       N copies started at once
//   conductor staggered N STEPS -- COMMAND... each copy started once the one before it has
//                                             made STEPS steps (or has ended)
//   conductor kill STEPS -- COMMAND...       one copy, killed with SIGKILL after STEPS steps
//
// Exit status 0 when every copy ended with status 0 (kill: when the copy died of SIGKILL).

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kProgressFd = 3;

struct Child {
    pid_t pid = -1;
    int progress = -1;  // read end of the child's progress pipe
};

Child start(char** command) {
    Child child;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::dup2(pipeFds[1], kProgressFd);  // dup2 clears close-on-exec on the copy
        ::setenv("QRT_TEST_PROGRESS_FD", "3", 1);
        ::execvp(command[0], command);
        std::perror("conductor: exec");
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    child.progress = pipeFds[0];
    return child;
}

// Reads `steps` progress bytes; false when the child closed its end first.
bool awaitSteps(const Child& child, int steps) {
    for (int seen = 0; seen < steps;) {
        char byte;
        const ssize_t got = ::read(child.progress, &byte, 1);
        if (got == 1) {
            ++seen;
        } else if (got == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The child's wait status, once it has ended; its progress pipe is drained so it never blocks.
int finish(Child& child) {
    char sink[64];
    while (::read(child.progress, sink, sizeof sink) > 0) {
    }
    ::close(child.progress);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

int usage() {
    std::fprintf(stderr,
                 "usage: conductor together N -- CMD... | staggered N STEPS -- CMD... |"
                 " kill STEPS -- CMD...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    const std::string mode = argv[1];
    int separator = 2;
    while (separator < argc && std::strcmp(argv[separator], "--") != 0) ++separator;
    if (separator + 1 >= argc) return usage();
    char** command = argv + separator + 1;
    const int copies = mode == "kill" ? 1 : std::atoi(argv[2]);
    const int steps = mode == "together" ? 0 : std::atoi(argv[mode == "kill" ? 2 : 3]);
    if (copies < 1 || (mode != "together" && mode != "staggered" && mode != "kill")) return usage();
    std::fflush(stdout);

    std::vector<Child> children;
    for (int i = 0; i < copies; ++i) {
        children.push_back(start(command));
        if (children.back().pid < 0) return 1;
        if (mode == "staggered" && i + 1 < copies) awaitSteps(children.back(), steps);
    }
    if (mode == "kill") {
        if (!awaitSteps(children[0], steps)) std::fprintf(stderr, "conductor: ended early\n");
        ::kill(children[0].pid, SIGKILL);
        const int status = finish(children[0]);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? 0 : 1;
    }
    int failed = 0;
    for (Child& child : children) {
        const int status = finish(child);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
    }
    return failed == 0 ? 0 : 1;
}
