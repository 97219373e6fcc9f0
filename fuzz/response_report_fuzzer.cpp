// One exchange through the exchange engine: a valid command frame made from the fuzzer's bytes,
// then an arbitrary answer over a scripted link, taken whole and byte by byte, judged with and
// without the answer's form, and reported as JSON. A crash and bounds net with the promises that
// hold for any answer.
//
// Input layout: node byte (taken modulo 32), command byte (index into the command table),
// parameter length (16 bits, folded into the code's limits), the parameter bytes (a byte that no
// frame may hold is folded onto a printable one), then the answer: every byte that is left.

#include <QBuffer>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <string>

#include "answercheck.h"
#include "exchangeengine.h"
#include "fuzz_support.h"
#include "jsonreport.h"
#include "scriptedlink.h"
#include "traffictrace.h"

namespace {

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

// The records of one exchange whose answer arrives in pieces of `piece` bytes (0: whole).
QList<ExchangeRecord> exchange(const QByteArray &command, const QByteArray &answer,
                               bool formDecides, int piece)
{
    ScriptedOpener opener;
    QTimer timer;
    QByteArray lastCommand;
    QByteArray responseBuffer;
    TrafficTrace trace;
    ExchangeEngine engine(opener, timer, lastCommand, responseBuffer, trace);
    QList<ExchangeRecord> records;
    QObject::connect(&engine, &ExchangeEngine::exchangeEnded,
                     [&records](const ExchangeRecord &record) { records << record; });
    // Time stands still while the answer comes, and moves on only for the time-out.
    qint64 now = 0;
    engine.setClock([&now]() { return now; });
    QString reason;
    FUZZ_REQUIRE(engine.openLink(&reason));
    ExchangeRequest request;
    request.frame = command;
    request.formDecides = formDecides;
    engine.start(request);
    for (int offset = 0; offset<answer.size(); offset += piece> 0 ? piece : answer.size()) {
        opener.last->reads << answer.mid(offset, piece > 0 ? piece : -1);
        engine.receive();
    }
    // An answer without its CR times out; a complete one may still be watched for a second.
    for (int expiry = 0; expiry < 2 && records.isEmpty(); ++expiry) {
        now += 60 * 1000 * 1000;
        engine.timerExpired();
    }
    FUZZ_REQUIRE(records.size() == 1);
    return records;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The engine's timer needs an application, as in the program; it lives until exit.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArray command = commandFrame(input);
    const uint8_t *rest = nullptr;
    const std::size_t restSize = input.take(input.remaining(), &rest);
    const QByteArray answer(reinterpret_cast<const char *>(rest), static_cast<int>(restSize));

    for (const bool formDecides : {false, true}) {
        const QList<ExchangeRecord> whole = exchange(command, answer, formDecides, 0);
        const QList<ExchangeRecord> bytewise = exchange(command, answer, formDecides, 1);
        // An exchange ends once, and the pieces an answer comes in change nothing.
        FUZZ_REQUIRE(whole.size() == 1 && bytewise.size() == 1);
        const ExchangeRecord &record = whole.first();
        FUZZ_REQUIRE(record.outcome == bytewise.first().outcome);
        FUZZ_REQUIRE(record.response == bytewise.first().response);
        FUZZ_REQUIRE(record.response.size() <= V640_MAX_FRAME_SIZE + 2);
        if (record.outcome == ExchangeOutcome::Ok) {
            FUZZ_REQUIRE(AnswerCheck::judge(command, record.response, formDecides) ==
                         AnswerCheck::Verdict::Valid);
            FUZZ_REQUIRE(v640_get_response_code(record.response.constData()) == 0);
        }
        // One object a line, whatever the answer held.
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QTextStream output(&buffer);
        output.setCodec("UTF-8");
        JsonReport report;
        report.write(output, record);
        FUZZ_REQUIRE(buffer.data().endsWith('\n') && buffer.data().count('\n') == 1);
        FUZZ_REQUIRE(QJsonDocument::fromJson(buffer.data()).isObject());
        // Every control character, C0, DEL and C1, escaped: none reaches a reader raw.
        const QString line = QString::fromUtf8(buffer.data().chopped(1));
        FUZZ_REQUIRE(std::none_of(line.begin(), line.end(), [](QChar character) {
            const ushort code = character.unicode();
            return code < 0x20 || (code >= 0x7F && code <= 0x9F);
        }));
    }
    return 0;
}
