#include "payload_info.h"

namespace payload {

QString Id() {
    return QStringLiteral(ORVANDINE_PAYLOAD_ID);
}

QString NasmVersion() {
    return QStringLiteral(ORVANDINE_NASM_VERSION);
}

}  // namespace payload
