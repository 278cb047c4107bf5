#include "trial/trialwire.h"

#include <QDataStream>
#include <QIODevice>

// Found by the stream operators of QList, in the namespace of the types.
static QDataStream &operator<<(QDataStream &s, const CallParam &p) {
    return s << quint8(p.kind) << p.number << p.buffer;
}
static QDataStream &operator>>(QDataStream &s, CallParam &p) {
    quint8 kind = 0;
    s >> kind >> p.number >> p.buffer;
    p.kind = kind ? CallParam::Kind::Buffer : CallParam::Kind::Number;
    return s;
}
static QDataStream &operator<<(QDataStream &s, const SavedRegister &r) {
    return s << r.name << r.before << r.after << r.beforeHigh << r.afterHigh;
}
static QDataStream &operator>>(QDataStream &s, SavedRegister &r) {
    return s >> r.name >> r.before >> r.after >> r.beforeHigh >> r.afterHigh;
}
static QDataStream &operator<<(QDataStream &s, const TrialBuffer &b) {
    return s << qint32(b.param) << b.address << qint64(b.size) << b.head;
}
static QDataStream &operator>>(QDataStream &s, TrialBuffer &b) {
    qint32 param = 0;
    qint64 size = 0;
    s >> param >> b.address >> size >> b.head;
    b.param = param;
    b.size = size;
    return s;
}

namespace {

constexpr quint32 kRequestMagic = 0x4F525452;  // "ORTR"
constexpr quint32 kResultMagic = 0x4F525253;   // "ORRS"

// Both directions from one list of fields.
template <typename Stream, typename Result>
void Fields(Stream &s, Result &r) {
    s &r.error;
    s &r.end;
    s &r.emulatorMessage;
    s &r.bits;
    s &r.rax;
    s &r.codeBase;
    s &r.offset;
    s &r.offsetKnown;
    s &r.faultAddress;
    s &r.faultAccess;
    s &r.interrupt;
    s &r.instruction;
    s &r.detail;
    s &r.notes;
    s &r.instructions;
    s &r.instructionLimit;
    for (auto &argument : r.arguments) s &argument;
    s &r.argumentBytesRemoved;
    s &r.saved;
    s &r.directionClear;
    s &r.frameWritten;
    s &r.frameAddress;
    s &r.x87Depth;
    s &r.fpuControlBefore;
    s &r.fpuControlAfter;
    s &r.mxcsrBefore;
    s &r.mxcsrAfter;
    s &r.buffers;
}

struct Writer {
    QDataStream &s;
    template <typename T>
    void operator&(const T &value) {
        if constexpr (std::is_enum_v<T>)
            s << qint32(value);
        else
            s << value;
    }
};
struct Reader {
    QDataStream &s;
    template <typename T>
    void operator&(T &value) {
        if constexpr (std::is_enum_v<T>) {
            qint32 raw = 0;
            s >> raw;
            value = T(raw);
        } else {
            s >> value;
        }
    }
};

}  // namespace

QByteArray EncodeTrialRequest(const TrialRequest &request) {
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s << kRequestMagic << request.code << request.params << request.instructionLimit << qint32(request.timeLimitMs)
      << qint32(request.bits) << request.everyInstruction;
    return bytes;
}

bool DecodeTrialRequest(const QByteArray &bytes, TrialRequest *request) {
    QDataStream s(bytes);
    quint32 magic = 0;
    qint32 time = 0, bits = 0;
    s >> magic >> request->code >> request->params >> request->instructionLimit >> time >> bits >>
        request->everyInstruction;
    request->timeLimitMs = time;
    request->bits = bits == 64 ? 64 : 32;
    return s.status() == QDataStream::Ok && magic == kRequestMagic;
}

QByteArray EncodeTrialResult(const TrialResult &result) {
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s << kResultMagic << quint32(0);  // its size, filled in below
    Writer w{s};
    Fields(w, result);
    s.device()->seek(4);
    s << quint32(bytes.size());
    return bytes;
}

bool TrialResultComplete(const QByteArray &bytes) {
    if (bytes.size() < 8) return false;
    QDataStream s(bytes);
    quint32 magic = 0, size = 0;
    s >> magic >> size;
    return qsizetype(size) <= bytes.size();
}

bool DecodeTrialResult(const QByteArray &bytes, TrialResult *result) {
    QDataStream s(bytes);
    quint32 magic = 0, size = 0;
    s >> magic >> size;
    if (magic != kResultMagic || qsizetype(size) != bytes.size()) return false;
    Reader r{s};
    Fields(r, *result);
    return s.status() == QDataStream::Ok && s.atEnd();
}
