#include "tools/processes/Process.h"

#include <utility>

#include "core/messages.h"
#include "core/outcome.h"
#include "infra/log.h"
#include "infra/win_resource.h"
#include "tools/processes/process_collect.h"
#include "tools/processes/process_listing.h"
#include "tools/processes/process_queries.h"
#include "tools/processes/process_render.h"
#include "tools/processes/process_snapshot.h"

namespace {

char* outcome_word(const char* word) { return const_cast<char*>(word); }

}  // namespace

namespace hk::processes {

void GatherProcessList(Json::Value& list) {
  ListingContext context;
  for (const PROCESSENTRY32W& entry : TakeProcessSnapshot()) {
    list.append(RenderProcess(CollectProcessFacts(entry, context)));
  }
}

}  // namespace hk::processes

int LocalProcess::get_details(char** result, std::string webClientId) {
  *result = outcome_word(hk::kOutcomeFalse);
  Json::Value list(Json::arrayValue);
  try {
    hk::processes::Process::CalculateProcessCPUUsage();
    hk::processes::GatherProcessList(list);
  } catch (...) {
    WriteLog(L"Error was caught while getting Process Details || LocalProcess::get_details() ||");
    *result = outcome_word(hk::kOutcomeError);
  }
  if (list.empty()) return 0;
  POST_JSON_success("1", "1301", std::move(list), 1, result, std::move(webClientId));
  return 1;
}

bool LocalProcess::terminate_process(DWORD processId, char** result) {
  *result = outcome_word(hk::kOutcomeError);
  hk::unique_handle process(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (process && ::TerminateProcess(process.get(), 0)) *result = outcome_word(hk::kOutcomeTrue);
  return false;
}
