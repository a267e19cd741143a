// The operations that hand out the module's own texts: result messages, version and information.
// They read only constant texts and never the object.
#include <cstring>

#include "primitives/text_out.h"
#include "table/datenbank_table.h"
#include "texts/messages.h"
#include "texts/module_info.h"
#include "texts/version.h"

namespace {

constexpr char kVersionText[] = DB_TEXT_VERSION;
constexpr char kModuleName[] = DB_TEXT_MODULE_NAME;
constexpr char kCopyright[] = DB_TEXT_COPYRIGHT;
constexpr char kMaker[] = DB_TEXT_MAKER;
constexpr char kDescription[] = DB_TEXT_DESCRIPTION;

static_assert(sizeof(kVersionText) == 14, "the version text has 13 bytes");
static_assert(sizeof(kDescription) == 112, "the description has 111 bytes");

template <std::size_t N>
int DeliverConstant(const char (&text)[N], char* buffer, unsigned size) noexcept {
  return TTextOut(buffer, size).Deliver(text, N - 1);
}

}  // namespace

DB_BOOL DB_CALL TDatenbank::GetVersion(int* major, int* minor) {
  if (major != nullptr) {
    *major = DB_VERSION_MAJOR;
  }
  if (minor != nullptr) {
    *minor = DB_VERSION_MINOR;
  }
  return 1;
}

int DB_CALL TDatenbank::GetVersionTextLength() {
  return sizeof(kVersionText) - 1;
}

DB_BOOL DB_CALL TDatenbank::GetVersionText(char* buffer) {
  if (buffer != nullptr) {
    std::memcpy(buffer, kVersionText, sizeof(kVersionText));
  }
  return 1;
}

int DB_CALL TDatenbank::GetModuleName(char* buffer, unsigned size) {
  return DeliverConstant(kModuleName, buffer, size);
}

int DB_CALL TDatenbank::GetCopyrightText(char* buffer, unsigned size) {
  return DeliverConstant(kCopyright, buffer, size);
}

int DB_CALL TDatenbank::GetMakerText(char* buffer, unsigned size) {
  return DeliverConstant(kMaker, buffer, size);
}

int DB_CALL TDatenbank::GetDescription(char* buffer, unsigned size) {
  return DeliverConstant(kDescription, buffer, size);
}

int DB_CALL TDatenbank::GetErrorText(int code, char* buffer, unsigned size) {
  const TTextOut out(buffer, size);
  const char* message = ResultMessage(code);
  if (message == nullptr) {
    return dbErrUnknown;
  }
  return out.Deliver(message);
}
