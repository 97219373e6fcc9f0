// The controller's reporting of one exchange: a valid command frame made from the fuzzer's
// bytes, then an arbitrary response, reported at every output level, with and without
// error-abort. No link is needed.
//
// Input layout: node byte (taken modulo 32), command byte (index into the command table),
// parameter length (16 bits, folded into the code's limits), the parameter bytes (a byte that no
// frame may hold is folded onto a printable one), then the response: every byte that is left.
// QByteArray keeps the response in a heap block of exactly its size and a NUL, so
// AddressSanitizer stops any read past it.

#include <QCoreApplication>

#include <string>

#include "controllerprobe.h"
#include "fuzz_support.h"

namespace {

const int levelCount = 4;

QByteArray printable(const QByteArray &frame)
{
    int length = 0;
    const char *start = v640_get_printable(frame.constData(), &length);
    return QByteArray(start, length);
}

QByteArray commandFrame(FuzzInput &input)
{
    const unsigned int node = input.byte() % 32;
    const v640_code_entry &entry = v640_command_list[input.byte() % tableSize(v640_command_list)];
    const int span = entry.max_parameter_length - entry.min_parameter_length + 1;
    const int length = entry.min_parameter_length + input.word16() % span;
    std::string parameter;
    for (int i = 0; i < length; ++i) {
        const uint8_t byte = input.byte();
        const char character = static_cast<char>(byte);
        parameter +=
            isFrameCharacter(character) ? character : static_cast<char>(0x20 + byte % 0x5F);
    }
    const char *frame = v640_build_command_frame(node, entry.code, parameter.c_str());
    FUZZ_REQUIRE(frame != nullptr);
    return QByteArray(frame);
}

void checkRawLevels(const QByteArray (&output)[levelCount], const QByteArray &command,
                    const QByteArray &response)
{
    // Only a human-readable report may be empty: a read of a page mask that names no page.
    for (const QByteArray &report : output) {
        FUZZ_REQUIRE(report.isEmpty() || report.endsWith('\n'));
    }
    FUZZ_REQUIRE(output[1] == printable(response) + '\n');
    FUZZ_REQUIRE(output[2] == printable(command) + '\t' + printable(response) + '\n');
    FUZZ_REQUIRE(output[3] == output[0]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The reporting runs inside an application, as in the program; it lives until exit.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArray command = commandFrame(input);
    const uint8_t *rest = nullptr;
    const std::size_t restSize = input.take(input.remaining(), &rest);
    const QByteArray response(reinterpret_cast<const char *>(rest), static_cast<int>(restSize));
    const bool responseError = v640_get_response_code(response.constData()) != 0;

    QByteArray output[levelCount];
    ControllerProbe reporting;
    for (int level = 0; level < levelCount; ++level) {
        output[level] = reporting.report(command, response, level, false);
        FUZZ_REQUIRE(reporting.exitStatus() == ConsoleApplicationMain::NoError);
    }
    checkRawLevels(output, command, response);

    // Error-abort prints the same and only decides the exit status: an error end always ends
    // the run (a normal end may too, when it is not a valid answer).
    ControllerProbe aborting;
    for (int level = 0; level < levelCount; ++level) {
        FUZZ_REQUIRE(aborting.report(command, response, level, true) == output[level]);
        FUZZ_REQUIRE(!responseError ||
                     aborting.exitStatus() == ConsoleApplicationMain::V640ResponseError);
    }
    return 0;
}
