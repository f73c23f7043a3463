/* Runs a program under ptrace and stops it for good at the entry of a
 * system call found by steps, each a call of a kind whose path (or, for
 * send, whose message) is TEXT, met after the step before it: at the last
 * step it runs the board's hook ("hook cut LABEL"), which announces the cut
 * and blocks until the host cuts the power. The program never gets past
 * that call, so the cut finds the page cache as the program left it just
 * before it. The virtual board cuts `sav3-migrate --rollback` after each of
 * its phases this way, since the undo runs no commands of the logging shell.
 *
 *   cutat LABEL KIND:TEXT... -- PROGRAM [ARG...]
 *     KIND  open (open, openat), stat (lstat64, fstatat64, statx), unlink
 *           (unlink, unlinkat, rmdir), rename (the new name) or send (the
 *           message of sendto and send contains TEXT; paths must equal it)
 *   cutat trace -- PROGRAM [ARG...]
 *     prints each such call to the console instead ("cutat: KIND TEXT")
 *
 * Built static for the board (arm-linux-gnueabihf-gcc -static). */
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

/* The kinds, each with its calls and the argument that holds the text. */
struct call {
  const char* kind;
  long nr;
  int arg;
};
static const struct call calls[] = {
    {"open", __NR_open, 0},       {"open", __NR_openat, 1},      {"stat", __NR_lstat64, 0},
    {"stat", __NR_fstatat64, 1},  {"stat", __NR_statx, 1},       {"unlink", __NR_unlink, 0},
    {"unlink", __NR_unlinkat, 1}, {"unlink", __NR_rmdir, 0},     {"rename", __NR_rename, 1},
    {"rename", __NR_renameat, 3}, {"rename", __NR_renameat2, 3}, {"send", __NR_sendto, 1},
    {"send", __NR_send, 1},
};

/* Up to `size` - 1 bytes of the tracee's memory at `at`, ended at a NUL or
 * after `length` bytes. */
static void peek(pid_t pid, unsigned long at, size_t length, char* text, size_t size) {
  size_t n = 0;
  while (n + 1 < size && n < length) {
    errno = 0;
    const long word = ptrace(PTRACE_PEEKDATA, pid, (void*)(at + n), NULL);
    if (errno != 0) break;
    size_t i;
    for (i = 0; i < sizeof word && n + 1 < size && n < length; ++i, ++n) {
      text[n] = ((const char*)&word)[i];
      if (text[n] == '\0') return;
    }
  }
  text[n] = '\0';
}

int main(int argc, char** argv) {
  int end = 2;
  while (end < argc && strcmp(argv[end], "--") != 0) ++end;
  if (argc < 2 || end + 1 >= argc) {
    fputs("usage: cutat LABEL KIND:TEXT... -- PROGRAM [ARG...] | cutat trace -- PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  const int trace = strcmp(argv[1], "trace") == 0;
  const char* label = argv[1];
  int step = 2; /* the step awaited */
  char** program = argv + end + 1;
  const pid_t child = fork();
  if (child < 0) {
    perror("cutat: fork");
    return 1;
  }
  if (child == 0) {
    ptrace(PTRACE_TRACEME, 0, NULL, NULL);
    raise(SIGSTOP);
    execv(program[0], program);
    perror("cutat: exec");
    _exit(127);
  }
  int status;
  waitpid(child, &status, 0);
  ptrace(PTRACE_SETOPTIONS, child, NULL,
         (void*)(PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL));
  int signal_to_pass = 0;
  for (;;) {
    if (ptrace(PTRACE_SYSCALL, child, NULL, (void*)(long)signal_to_pass) != 0) break;
    signal_to_pass = 0;
    if (waitpid(child, &status, 0) < 0) break;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    if (!WIFSTOPPED(status)) continue;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      /* A signal for the program, not an event of the tracing. */
      if (status >> 16 == 0 && WSTOPSIG(status) != SIGTRAP) signal_to_pass = WSTOPSIG(status);
      continue;
    }
    struct __ptrace_syscall_info info;
    if (ptrace(PTRACE_GET_SYSCALL_INFO, child, (void*)sizeof info, &info) <= 0 ||
        info.op != PTRACE_SYSCALL_INFO_ENTRY)
      continue;
    for (size_t c = 0; c < sizeof calls / sizeof calls[0]; ++c) {
      if ((long)info.entry.nr != calls[c].nr) continue;
      const int send = strcmp(calls[c].kind, "send") == 0;
      char text[512];
      peek(child, (unsigned long)info.entry.args[calls[c].arg],
           send ? (size_t)info.entry.args[calls[c].arg + 1] : sizeof text, text, sizeof text);
      if (trace) {
        FILE* console = fopen("/dev/console", "w");
        if (console != NULL) {
          fprintf(console, "cutat: %s %s\n", calls[c].kind, text);
          fclose(console);
        }
      } else if (step < end) {
        const char* colon = strchr(argv[step], ':');
        const size_t n = colon != NULL ? (size_t)(colon - argv[step]) : 0;
        if (colon != NULL && strlen(calls[c].kind) == n && strncmp(calls[c].kind, argv[step], n) == 0 &&
            (send ? strstr(text, colon + 1) != NULL : strcmp(text, colon + 1) == 0) && ++step == end) {
          /* The program stays stopped at this call; the hook never returns. */
          execl("/sandbox/hook", "hook", "cut", label, (char*)NULL);
          perror("cutat: hook");
          return 1;
        }
      }
      break;
    }
  }
  return 1;
}
