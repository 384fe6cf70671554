/* Preloaded into every process of the emulated 32-bit wine (through the
 * private root's etc/ld.so.preload, so nothing on the host sees it). It mends
 * three faults of qemu-i386 7.2's user-mode emulation that wine runs into:
 *
 *  1. MAP_FIXED_NOREPLACE is taken as a mere hint: qemu maps elsewhere and
 *     reports success. Wine reserves its address space with it and then
 *     retries for about 75 s per process start. Here a mapping that lands
 *     anywhere but the asked address is undone and fails with EEXIST.
 *  2. The trap number of a SIGSEGV or SIGFPE comes as -1, so wine reports
 *     an access violation as an illegal instruction and skips its own page
 *     fault handling (guard pages, write watches). Here the trap number is
 *     rebuilt from si_code before wine's handler sees the signal.
 *  3. At ExitProcess the wineserver ends the other threads with SIGQUIT, and
 *     wine tears each down with pthread_exit while the process exits. Under
 *     emulation those teardowns race the exit (crashes, "libgcc_s.so.1 must
 *     be installed", SIGKILL from the server) in about 40% of runs of a
 *     program with live download threads. Here such a thread, which the
 *     server already counts as gone, is parked with every signal blocked
 *     until the process exits; the last thread ends the process itself.
 *
 * No libc headers (the host has no 32-bit development files):
 *     gcc -m32 -O2 -fPIC -shared -nostdlib -o qemu_fixes.so qemu_fixes.c */

typedef unsigned int size_t;
typedef long long off64_t;
typedef long off_t;

#define MAP_FIXED 0x10
#define MAP_FIXED_NOREPLACE 0x100000
#define SYS_exit_group 252
#define SYS_pause 29
#define SYS_munmap 91
#define SYS_mmap2 192
#define SYS_rt_sigprocmask 175
#define SIG_BLOCK 0
#define SIGQUIT 3
#define SIGFPE 8
#define SIGSEGV 11
#define SA_SIGINFO 4
#define EEXIST 17
#define EINVAL 22
#define EAGAIN 11
#define RTLD_NEXT ((void *)-1l)

extern int *__errno_location(void);
extern void *dlsym(void *, const char *);
extern void *malloc(size_t);
extern void free(void *);

/* A raw i386 system call with up to six arguments: the libc wrappers are
 * what this library replaces. */
long fixes_syscall(long nr, long a, long b, long c, long d, long e, long f) __attribute__((visibility("hidden")));
__asm__(".text\n"
        ".globl fixes_syscall\n.hidden fixes_syscall\n.type fixes_syscall,@function\n"
        "fixes_syscall:\n"
        "  push %ebp\n  push %edi\n  push %esi\n  push %ebx\n"
        "  mov 20(%esp),%eax\n  mov 24(%esp),%ebx\n  mov 28(%esp),%ecx\n"
        "  mov 32(%esp),%edx\n  mov 36(%esp),%esi\n  mov 40(%esp),%edi\n  mov 44(%esp),%ebp\n"
        "  int $0x80\n"
        "  pop %ebx\n  pop %esi\n  pop %edi\n  pop %ebp\n  ret\n");

static int failed(long result) { return (unsigned long)result > 0xfffff000ul; }
static void *fail_with(int error) { *__errno_location() = error; return (void *)-1; }

/* ---- 1. MAP_FIXED_NOREPLACE ---- */

void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset)
{
    if (offset & 0xfff) return fail_with(EINVAL);
    long page = (long)(offset >> 12);
    int noreplace = (flags & MAP_FIXED_NOREPLACE) && !(flags & MAP_FIXED);
    long result = fixes_syscall(SYS_mmap2, (long)address, length, protection,
                                noreplace ? flags & ~MAP_FIXED_NOREPLACE : flags, fd, page);
    if (failed(result)) return fail_with(-result);
    if (noreplace && (void *)result != address) {
        fixes_syscall(SYS_munmap, result, length, 0, 0, 0, 0);
        return fail_with(EEXIST);
    }
    return (void *)result;
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    return mmap64(address, length, protection, flags, fd, (off64_t)(unsigned long)offset);
}

/* ---- 2. trap numbers, and 3. SIGQUIT, both through sigaction ---- */

struct glibc_sigaction {            /* glibc's i386 struct sigaction */
    void *handler;
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
};
typedef void (*info_handler)(int, void *, void *);
static info_handler wine_handler[65];

#define CONTEXT_REG(context, index) (((long *)((char *)(context) + 20))[index])  /* uc_mcontext.gregs */
#define REG_TRAPNO 12

static void with_trap_number(int signal, void *info, void *context)
{
    int code = ((int *)info)[2];     /* si_code */
    if (CONTEXT_REG(context, REG_TRAPNO) == -1) {
        long trap = -1;
        if (signal == SIGSEGV && (code == 1 || code == 2)) trap = 14;    /* SEGV_MAPERR, SEGV_ACCERR: page fault */
        else if (signal == SIGSEGV && code == 0x80) trap = 13;          /* SI_KERNEL: general protection */
        else if (signal == SIGFPE && code == 1) trap = 0;               /* FPE_INTDIV: divide error */
        else if (signal == SIGFPE && code == 2) trap = 4;               /* FPE_INTOVF: overflow */
        CONTEXT_REG(context, REG_TRAPNO) = trap;
    }
    wine_handler[signal](signal, info, context);
}

static volatile int live_threads = 1;   /* the main thread and every pthread_create'd one */

static void block_asynchronous_signals(void)
{
    /* all but SIGILL, SIGTRAP, SIGBUS, SIGFPE and SIGSEGV */
    unsigned long set[2] = {~((1ul << 3) | (1ul << 4) | (1ul << 6) | (1ul << 7) | (1ul << 10)), ~0ul};
    fixes_syscall(SYS_rt_sigprocmask, SIG_BLOCK, (long)set, 0, 8, 0, 0);
}

static __attribute__((noreturn)) void end_process(int status)
{
    if (status && !(status & 0xff)) status = 1;   /* a nonzero code stays nonzero, as wine keeps it */
    for (;;) fixes_syscall(SYS_exit_group, status, 0, 0, 0, 0, 0);
}

static __attribute__((noreturn)) void park(void)
{
    block_asynchronous_signals();
    for (;;) fixes_syscall(SYS_pause, 0, 0, 0, 0, 0, 0);
}

static void on_quit(int signal, void *info, void *context)
{
    (void)signal; (void)info; (void)context;
    block_asynchronous_signals();
    if (__sync_sub_and_fetch(&live_threads, 1) > 0) park();
    end_process(0);                  /* what wine's own handler does in the last thread */
}

int sigaction(int signal, const struct glibc_sigaction *action, struct glibc_sigaction *previous)
{
    static int (*next)(int, const struct glibc_sigaction *, struct glibc_sigaction *);
    if (!next) next = dlsym(RTLD_NEXT, "sigaction");
    void *ours = signal == SIGQUIT ? (void *)on_quit : (void *)with_trap_number;
    int wrapped = (signal == SIGSEGV || signal == SIGFPE || signal == SIGQUIT) && action &&
                  (action->flags & SA_SIGINFO) && (unsigned long)action->handler > 1 && action->handler != ours;
    struct glibc_sigaction mine;
    int result;
    if (wrapped) {
        mine = *action;
        mine.handler = ours;
        result = next(signal, &mine, previous);
        if (result == 0) {
            if (previous && previous->handler == ours) previous->handler = (void *)wine_handler[signal];
            wine_handler[signal] = (info_handler)action->handler;
        }
        return result;
    }
    result = next(signal, action, previous);
    if (result == 0 && previous && (previous->handler == (void *)with_trap_number || previous->handler == (void *)on_quit))
        previous->handler = (void *)wine_handler[signal];
    return result;
}

/* ---- 3. counting threads, and exiting them safely ---- */

struct thread_start { void *(*function)(void *); void *argument; };

static void *counted_thread(void *start)
{
    struct thread_start copy = *(struct thread_start *)start;
    free(start);
    void *result = copy.function(copy.argument);
    __sync_sub_and_fetch(&live_threads, 1);
    return result;
}

int pthread_create(void *thread, const void *attributes, void *(*function)(void *), void *argument)
{
    static int (*next)(void *, const void *, void *(*)(void *), void *);
    if (!next) next = dlsym(RTLD_NEXT, "pthread_create");
    struct thread_start *start = malloc(sizeof *start);
    if (!start) return EAGAIN;
    start->function = function;
    start->argument = argument;
    __sync_add_and_fetch(&live_threads, 1);
    int result = next(thread, attributes, counted_thread, start);
    if (result) {
        __sync_sub_and_fetch(&live_threads, 1);
        free(start);
    }
    return result;
}

void pthread_exit(void *value)
{
    static void (*next)(void *);
    /* wine's SIGQUIT handler must not run in a thread whose TEB is already gone */
    block_asynchronous_signals();
    /* parked threads never finish in glibc's view, so the last live one ends the process */
    if (__sync_sub_and_fetch(&live_threads, 1) <= 0) end_process((int)(long)value);
    if (!next) next = dlsym(RTLD_NEXT, "pthread_exit");
    next(value);
    for (;;) {}
}
