/*
 * Whole-run comparisons of vorsel with minimal clients, all measured in one run against one
 * simulator on a loopback address (127.0.0.200 to 127.0.0.219):
 *
 *   - interactive throughput: the same lines through vorsel (interactive mode, lines on a pipe)
 *     and through the baseline client, exchanges per second;
 *   - one-shot: process start to exit of `vorsel --get-model-number`, of the baseline client
 *     doing the same exchange, and of the Python client, runs interleaved; and vorsel's peak
 *     resident memory.
 *
 * Prints the figures and the ratios. Paths default to the build tree this was built in.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

enum { maximumInterpreters = 4 };

struct options
{
    const char *vorsel;
    const char *simulator;
    const char *baseline;
    const char *pythonClient;
    const char *qtStart;
    const char *cStart;
    const char *interpreters[maximumInterpreters];
    int interpreterCount;
    const char *address;
    int lines;
    int rounds;
    int oneShotRuns;
    int cpu;
};

struct runResult
{
    double seconds;
    long peakResidentKilobytes;
};

static double now(void)
{
    struct timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return (double)time.tv_sec + (double)time.tv_nsec / 1e9;
}

static void fail(const char *what)
{
    fprintf(stderr, "bench_driver: %s\n", what);
    exit(1);
}

static pid_t spawn(char *const argv[], int input, int output)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    pid_t child;
    const int error = posix_spawnp(&child, argv[0], &actions, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        fprintf(stderr, "bench_driver: cannot start %s: %s\n", argv[0], strerror(error));
        exit(1);
    }
    return child;
}

/* Waits for the child's end, at most timeoutSeconds; returns the moment it ended. */
static double awaitEnd(pid_t child, int timeoutSeconds, int *status, struct rusage *usage)
{
    const int handle = (int)syscall(SYS_pidfd_open, child, 0);
    if (handle < 0) {
        fail("pidfd_open failed");
    }
    struct pollfd ended = {handle, POLLIN, 0};
    int ready;
    do {
        ready = poll(&ended, 1, timeoutSeconds * 1000);
    } while (ready < 0 && errno == EINTR);
    const double end = now();
    close(handle);
    if (ready == 0) {
        kill(child, SIGKILL);
        wait4(child, status, 0, usage);
        fail("a client did not end in time");
    }
    if (wait4(child, status, 0, usage) != child) {
        fail("wait4 failed");
    }
    return end;
}

static int openOutput(const char *path)
{
    const int output = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (output < 0) {
        fail("cannot create an output file");
    }
    return output;
}

struct feed
{
    int pipe;
    const char *bytes;
    size_t size;
};

static void *feedLines(void *argument)
{
    struct feed *feed = argument;
    size_t written = 0;
    while (written < feed->size) {
        const ssize_t count = write(feed->pipe, feed->bytes + written, feed->size - written);
        if (count <= 0) {
            break;
        }
        written += (size_t)count;
    }
    close(feed->pipe);
    return NULL;
}

/* The client reads the lines from a pipe and prints into outputPath. */
static struct runResult runInteractive(char *const argv[], const char *lines, size_t size,
                                       const char *outputPath)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        fail("pipe failed");
    }
    const int output = openOutput(outputPath);
    const double start = now();
    const pid_t child = spawn(argv, ends[0], output);
    close(ends[0]);
    close(output);
    struct feed feed = {ends[1], lines, size};
    pthread_t feeder;
    if (pthread_create(&feeder, NULL, feedLines, &feed) != 0) {
        fail("cannot start the feeding thread");
    }
    int status;
    struct rusage usage;
    const double end = awaitEnd(child, 600, &status, &usage);
    pthread_join(feeder, NULL);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "bench_driver: %s ended with status %d\n", argv[0], status);
        exit(1);
    }
    struct runResult result = {end - start, usage.ru_maxrss};
    return result;
}

static struct runResult runOnce(char *const argv[], const char *outputPath, const char *expected)
{
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output = openOutput(outputPath);
    const double start = now();
    const pid_t child = spawn(argv, input, output);
    close(input);
    close(output);
    int status;
    struct rusage usage;
    const double end = awaitEnd(child, 60, &status, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "bench_driver: %s ended with status %d\n", argv[0], status);
        exit(1);
    }
    if (expected == NULL) {
        struct runResult result = {end - start, usage.ru_maxrss};
        return result;
    }
    char printed[256] = "";
    FILE *file = fopen(outputPath, "r");
    if (file == NULL || fgets(printed, sizeof printed, file) == NULL ||
        strcmp(printed, expected) != 0) {
        fprintf(stderr, "bench_driver: %s printed \"%s\", expected \"%s\"\n", argv[0], printed,
                expected);
        exit(1);
    }
    fclose(file);
    struct runResult result = {end - start, usage.ru_maxrss};
    return result;
}

static char *readFile(const char *path, size_t *size)
{
    FILE *file = fopen(path, "rb");
    if (file == NULL) {
        fail("cannot read an output file");
    }
    fseek(file, 0, SEEK_END);
    *size = (size_t)ftell(file);
    fseek(file, 0, SEEK_SET);
    char *bytes = malloc(*size + 1);
    if (fread(bytes, 1, *size, file) != *size) {
        fail("short read of an output file");
    }
    fclose(file);
    return bytes;
}

static int compareDoubles(const void *left, const void *right)
{
    const double a = *(const double *)left, b = *(const double *)right;
    return a < b ? -1 : a > b;
}

static double median(double *values, int count)
{
    qsort(values, (size_t)count, sizeof *values, compareDoubles);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static double mean(const double *values, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += values[i];
    }
    return sum / count;
}

static pid_t startSimulator(const struct options *options, int *stdoutPipe)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        fail("pipe failed");
    }
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    char *argv[] = {(char *)options->simulator, "--listen", (char *)options->address, NULL};
    const pid_t simulator = spawn(argv, input, ends[1]);
    close(input);
    close(ends[1]);
    /* Wait for "ready", at most 20 s. */
    char seen[1024] = "";
    size_t used = 0;
    const double deadline = now() + 20;
    while (strstr(seen, "ready\n") == NULL) {
        struct pollfd readable = {ends[0], POLLIN, 0};
        const int remaining = (int)((deadline - now()) * 1000);
        if (remaining <= 0 || poll(&readable, 1, remaining) <= 0) {
            kill(simulator, SIGKILL);
            fail("the simulator did not get ready");
        }
        const ssize_t count = read(ends[0], seen + used, sizeof seen - 1 - used);
        if (count <= 0) {
            fail("the simulator ended before it was ready (address in use?)");
        }
        used += (size_t)count;
        seen[used] = '\0';
    }
    /* Kept open: the simulator must never write into a closed pipe. */
    *stdoutPipe = ends[0];
    return simulator;
}

static void stopSimulator(pid_t simulator, int stdoutPipe)
{
    kill(simulator, SIGTERM);
    int status;
    struct rusage usage;
    awaitEnd(simulator, 20, &status, &usage);
    close(stdoutPipe);
}

/* Lines of commands that leave the unit's data as they are, so every run prints the same. */
static char *makeLines(int count, size_t *size)
{
    static const char *const cycle[] = {
        "1401", "1402", "1403", "1410", "1411", "1414", "1420", "1421", "10HELLO", "010000000004",
    };
    const int cycleLength = (int)(sizeof cycle / sizeof cycle[0]);
    char *lines = malloc((size_t)count * 16 + 1);
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        used += (size_t)sprintf(lines + used, "%s\n", cycle[i % cycleLength]);
    }
    *size = used;
    return lines;
}

static int countLines(const char *bytes, size_t size)
{
    int count = 0;
    for (size_t i = 0; i < size; ++i) {
        count += bytes[i] == '\n';
    }
    return count;
}

static void measureThroughput(const struct options *options, const char *directory)
{
    size_t size;
    char *lines = makeLines(options->lines, &size);
    char vorselOutput[512], humanOutput[512], baselineOutput[512];
    snprintf(vorselOutput, sizeof vorselOutput, "%s/vorsel.out", directory);
    snprintf(humanOutput, sizeof humanOutput, "%s/vorsel-human.out", directory);
    snprintf(baselineOutput, sizeof baselineOutput, "%s/baseline.out", directory);
    char *vorsel[] = {(char *)options->vorsel, "--target", (char *)options->address,
                      "--output-format",       "1",        NULL};
    char *human[] = {(char *)options->vorsel, "--target", (char *)options->address, NULL};
    char *baseline[] = {(char *)options->baseline, (char *)options->address, NULL};

    double vorselSeconds[64], humanSeconds[64], baselineSeconds[64];
    long peakKilobytes = 0;
    for (int round = 0; round < options->rounds; ++round) {
        const struct runResult raw = runInteractive(vorsel, lines, size, vorselOutput);
        vorselSeconds[round] = raw.seconds;
        baselineSeconds[round] = runInteractive(baseline, lines, size, baselineOutput).seconds;
        const struct runResult readable = runInteractive(human, lines, size, humanOutput);
        humanSeconds[round] = readable.seconds;
        peakKilobytes =
            raw.peakResidentKilobytes > peakKilobytes ? raw.peakResidentKilobytes : peakKilobytes;
        peakKilobytes = readable.peakResidentKilobytes > peakKilobytes
                            ? readable.peakResidentKilobytes
                            : peakKilobytes;
    }
    size_t vorselSize, baselineSize, humanSize;
    char *vorselBytes = readFile(vorselOutput, &vorselSize);
    char *baselineBytes = readFile(baselineOutput, &baselineSize);
    char *humanBytes = readFile(humanOutput, &humanSize);
    const int identical =
        vorselSize == baselineSize && memcmp(vorselBytes, baselineBytes, vorselSize) == 0;
    if (countLines(vorselBytes, vorselSize) != options->lines ||
        countLines(humanBytes, humanSize) < options->lines) {
        fail("vorsel did not answer every line");
    }

    const double vorselRate = options->lines / median(vorselSeconds, options->rounds);
    const double humanRate = options->lines / median(humanSeconds, options->rounds);
    const double baselineRate = options->lines / median(baselineSeconds, options->rounds);
    printf("Interactive throughput: %d lines, %d rounds, median of each\n", options->lines,
           options->rounds);
    printf("  %-40s %8.3f s  %9.0f exchanges/s\n", "vorsel --output-format 1",
           options->lines / vorselRate, vorselRate);
    printf("  %-40s %8.3f s  %9.0f exchanges/s\n", "vorsel (human-readable)",
           options->lines / humanRate, humanRate);
    printf("  %-40s %8.3f s  %9.0f exchanges/s\n", "baseline client", options->lines / baselineRate,
           baselineRate);
    printf("  vorsel peak resident memory over the runs: %ld KiB\n", peakKilobytes);
    printf("  outputs of vorsel --output-format 1 and baseline identical: %s\n",
           identical ? "yes" : "NO");
    printf("  ratio vorsel / baseline exchanges per second: %.2f (goal >= 0.80: %s)\n",
           vorselRate / baselineRate, vorselRate / baselineRate >= 0.8 ? "met" : "missed");
    free(lines);
    free(vorselBytes);
    free(baselineBytes);
    free(humanBytes);
}

static void printTimes(const char *name, double *seconds, int count)
{
    const double average = mean(seconds, count);
    const double middle = median(seconds, count);
    printf("  %-40s median %7.2f ms  mean %7.2f ms  min %7.2f ms  max %7.2f ms\n", name,
           middle * 1e3, average * 1e3, seconds[0] * 1e3, seconds[count - 1] * 1e3);
}

static void measureOneShot(const struct options *options, const char *directory)
{
    char output[512];
    snprintf(output, sizeof output, "%s/oneshot.out", directory);
    char *vorsel[] = {(char *)options->vorsel, "--target", (char *)options->address,
                      "--get-model-number", NULL};
    char *baseline[] = {(char *)options->baseline, (char *)options->address, "1401", NULL};

    const int runs = options->oneShotRuns;
    double *vorselSeconds = calloc((size_t)runs, sizeof(double));
    double *baselineSeconds = calloc((size_t)runs, sizeof(double));
    double *pythonSeconds = calloc((size_t)(runs * options->interpreterCount), sizeof(double));
    double *peakKilobytes = calloc((size_t)runs, sizeof(double));
    double *qtSeconds = calloc((size_t)runs, sizeof(double));
    double *cSeconds = calloc((size_t)runs, sizeof(double));
    char *qtStart[] = {(char *)options->qtStart, NULL};
    char *cStart[] = {(char *)options->cStart, NULL};
    for (int run = 0; run < runs; ++run) {
        const struct runResult result = runOnce(vorsel, output, "V640-SIM01\n");
        vorselSeconds[run] = result.seconds;
        peakKilobytes[run] = (double)result.peakResidentKilobytes;
        baselineSeconds[run] = runOnce(baseline, output, "00V640-SIM01\n").seconds;
        for (int i = 0; i < options->interpreterCount; ++i) {
            char *python[] = {(char *)options->interpreters[i], (char *)options->pythonClient,
                              (char *)options->address, "1401", NULL};
            pythonSeconds[i * runs + run] = runOnce(python, output, "00V640-SIM01\n").seconds;
        }
        qtSeconds[run] = runOnce(qtStart, output, NULL).seconds;
        cSeconds[run] = runOnce(cStart, output, NULL).seconds;
    }
    printf("One-shot model number query, process start to exit, %d runs each, interleaved\n", runs);
    printTimes("vorsel --get-model-number", vorselSeconds, runs);
    printTimes("baseline client", baselineSeconds, runs);
    for (int i = 0; i < options->interpreterCount; ++i) {
        char name[128];
        snprintf(name, sizeof name, "python client (%s)", options->interpreters[i]);
        printTimes(name, pythonSeconds + i * runs, runs);
    }
    const double peakMedian = median(peakKilobytes, runs);
    printTimes("reference: Qt process start and end", qtSeconds, runs);
    printTimes("reference: C process start and end", cSeconds, runs);
    printf("  vorsel peak resident memory: median %.0f KiB, max %.0f KiB\n", peakMedian,
           peakKilobytes[runs - 1]);
    const double vorselMedian = median(vorselSeconds, runs);
    const double baselineMedian = median(baselineSeconds, runs);
    printf("  ratio vorsel / baseline wall time (medians): %.2f (goal <= 7: %s)\n",
           vorselMedian / baselineMedian, vorselMedian / baselineMedian <= 7 ? "met" : "missed");
    for (int i = 0; i < options->interpreterCount; ++i) {
        const double ratio = median(pythonSeconds + i * runs, runs) / vorselMedian;
        printf("  ratio python (%s) / vorsel wall time (medians): %.2f (goal >= 20: %s)\n",
               options->interpreters[i], ratio, ratio >= 20 ? "met" : "missed");
    }
    free(vorselSeconds);
    free(baselineSeconds);
    free(pythonSeconds);
    free(peakKilobytes);
    free(qtSeconds);
    free(cSeconds);
}

static void usage(void)
{
    fprintf(
        stderr,
        "usage: bench_driver [--address 127.0.0.N] [--lines N] [--rounds N] [--runs N] [--cpu N]\n"
        "                    [--python INTERPRETER]... [--vorsel PATH] [--simulator PATH]\n"
        "                    [--baseline PATH] [--python-client PATH]\n"
        "N of the address: 200 to 219. --python may be given up to %d times "
        "(default /usr/bin/python3).\n",
        maximumInterpreters);
    exit(1);
}

static int isBenchmarkAddress(const char *address)
{
    int last;
    char rest;
    return sscanf(address, "127.0.0.%d%c", &last, &rest) == 1 && last >= 200 && last <= 219;
}

int main(int argc, char *argv[])
{
    struct options options = {
        .vorsel = BENCH_VORSEL,
        .simulator = BENCH_SIMULATOR,
        .baseline = BENCH_BASELINE,
        .pythonClient = BENCH_PYTHON_CLIENT,
        .qtStart = BENCH_QT_START,
        .cStart = BENCH_C_START,
        .address = "127.0.0.200",
        .lines = 10000,
        .rounds = 3,
        .oneShotRuns = 200,
        .cpu = -1,
    };
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) {
            usage();
        }
        const char *name = argv[i], *value = argv[i + 1];
        if (strcmp(name, "--address") == 0) {
            options.address = value;
        } else if (strcmp(name, "--lines") == 0) {
            options.lines = atoi(value);
        } else if (strcmp(name, "--rounds") == 0) {
            options.rounds = atoi(value);
        } else if (strcmp(name, "--runs") == 0) {
            options.oneShotRuns = atoi(value);
        } else if (strcmp(name, "--python") == 0 &&
                   options.interpreterCount < maximumInterpreters) {
            options.interpreters[options.interpreterCount++] = value;
        } else if (strcmp(name, "--cpu") == 0) {
            options.cpu = atoi(value);
        } else if (strcmp(name, "--vorsel") == 0) {
            options.vorsel = value;
        } else if (strcmp(name, "--simulator") == 0) {
            options.simulator = value;
        } else if (strcmp(name, "--baseline") == 0) {
            options.baseline = value;
        } else if (strcmp(name, "--python-client") == 0) {
            options.pythonClient = value;
        } else {
            usage();
        }
    }
    if (options.interpreterCount == 0) {
        options.interpreters[options.interpreterCount++] = "/usr/bin/python3";
    }
    if (!isBenchmarkAddress(options.address) || options.lines < 1 || options.rounds < 1 ||
        options.rounds > 64 || options.oneShotRuns < 1) {
        usage();
    }
    signal(SIGPIPE, SIG_IGN);
    if (options.cpu >= 0) {
        /* Every process of the run on one CPU: a round trip then costs the same every time,
         * instead of depending on where the scheduler puts client and simulator. */
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(options.cpu, &set);
        if (sched_setaffinity(0, sizeof set, &set) != 0) {
            fail("cannot pin to that CPU");
        }
    }

    char directory[] = "/tmp/vorsel-bench-XXXXXX";
    if (mkdtemp(directory) == NULL) {
        fail("cannot create a scratch directory");
    }
    int simulatorOutput;
    const pid_t simulator = startSimulator(&options, &simulatorOutput);
    printf("Simulator on %s:7090; clients started from this process", options.address);
    if (options.cpu >= 0) {
        printf("; all on CPU %d", options.cpu);
    }
    printf(".\n");
    measureThroughput(&options, directory);
    measureOneShot(&options, directory);
    stopSimulator(simulator, simulatorOutput);

    static const char *const outputs[] = {"vorsel.out", "vorsel-human.out", "baseline.out",
                                          "oneshot.out"};
    for (size_t i = 0; i < sizeof outputs / sizeof outputs[0]; ++i) {
        char path[600];
        snprintf(path, sizeof path, "%s/%s", directory, outputs[i]);
        unlink(path);
    }
    rmdir(directory);
    return 0;
}
