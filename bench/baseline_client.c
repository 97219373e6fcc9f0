/*
 * The least a V640 client over TCP can do, as a yardstick for vorsel: per frame one blocking
 * write of the message and its CR, then reads until a CR has arrived, and the response text up
 * to the CR printed as one line (what vorsel prints with --output-format 1).
 *
 *   baseline_client ADDRESS            one exchange per line of standard input
 *   baseline_client ADDRESS MESSAGE    one exchange
 *
 * ADDRESS is an IPv4 address (no name is looked up); the port is 7090.
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

enum { unitPort = 7090, responseCapacity = 4096 };

static int connectTo(const char *address)
{
    struct sockaddr_in unit;
    memset(&unit, 0, sizeof unit);
    unit.sin_family = AF_INET;
    unit.sin_port = htons(unitPort);
    if (inet_pton(AF_INET, address, &unit.sin_addr) != 1) {
        fprintf(stderr, "not an IPv4 address: %s\n", address);
        return -1;
    }
    const int link = socket(AF_INET, SOCK_STREAM, 0);
    if (link < 0 || connect(link, (const struct sockaddr *)&unit, sizeof unit) != 0) {
        perror("connect");
        return -1;
    }
    return link;
}

/* Sends the message with its CR and prints the response up to its CR; 0 on success. */
static int exchange(int link, char *message, size_t length)
{
    message[length] = '\r';
    if (write(link, message, length + 1) != (ssize_t)(length + 1)) {
        perror("write");
        return -1;
    }
    static char response[responseCapacity];
    size_t received = 0;
    char *carriageReturn = NULL;
    while (carriageReturn == NULL) {
        if (received == sizeof response) {
            fprintf(stderr, "response too long\n");
            return -1;
        }
        const ssize_t count = read(link, response + received, sizeof response - received);
        if (count <= 0) {
            fprintf(stderr, "connection closed\n");
            return -1;
        }
        carriageReturn = memchr(response + received, '\r', (size_t)count);
        received += (size_t)count;
    }
    fwrite(response, 1, (size_t)(carriageReturn - response), stdout);
    fputc('\n', stdout);
    fflush(stdout);
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: %s ADDRESS [MESSAGE]\n", argv[0]);
        return 1;
    }
    const int link = connectTo(argv[1]);
    if (link < 0) {
        return 4;
    }
    int status = 0;
    if (argc == 3) {
        const size_t length = strlen(argv[2]);
        char *message = malloc(length + 1);
        memcpy(message, argv[2], length);
        status = exchange(link, message, length) == 0 ? 0 : 4;
        free(message);
    } else {
        char *line = NULL;
        size_t capacity = 0;
        ssize_t length;
        /* getline leaves room for the NUL, which the CR takes. */
        while ((length = getline(&line, &capacity, stdin)) > 0) {
            if (line[length - 1] == '\n') {
                --length;
            }
            if (exchange(link, line, (size_t)length) != 0) {
                status = 4;
                break;
            }
        }
        free(line);
    }
    close(link);
    return status;
}
