#include <string>

#include "core/Chostkeeper.h"
#include "core/text.h"
#include "infra/log.h"

void Chostkeeper::connect(std::string text) {
  WriteLog(L"Message Recived From Server : %s", hk::Widen(text).c_str());
}
