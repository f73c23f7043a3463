/* Runs a program with its flushes made to do nothing: a seccomp filter
 * answers fsync, fdatasync, syncfs, sync and sync_file_range with success
 * without calling the kernel. The virtual board's proof that its power cuts
 * can catch a missing flush runs the migration tool through it.
 *
 *   noflush PROGRAM [ARG...]
 *
 * Built static for the board (arm-linux-gnueabihf-gcc -static). */
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#define ANSWER_SUCCESS(nr) \
  BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (nr), 0, 1), BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0)

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: noflush PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  struct sock_filter filter[] = {
      /* Another architecture's calls pass unchanged (their numbers differ). */
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_ARM, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      ANSWER_SUCCESS(__NR_fsync),
      ANSWER_SUCCESS(__NR_fdatasync),
      ANSWER_SUCCESS(__NR_syncfs),
      ANSWER_SUCCESS(__NR_sync),
      ANSWER_SUCCESS(__NR_arm_sync_file_range),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {.len = sizeof filter / sizeof filter[0], .filter = filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    perror("noflush: seccomp");
    return 1;
  }
  execv(argv[1], argv + 1);
  perror("noflush: exec");
  return 127;
}
