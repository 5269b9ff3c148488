#include "tools/processes/local_process.h"

#include <utility>

#include "core/messages.h"
#include "core/outcome.h"
#include "infra/log.h"
#include "infra/win_resource.h"
#include "tools/processes/process_collect.h"
#include "tools/processes/process_listing.h"
#include "tools/processes/process.h"
#include "tools/processes/process_render.h"
#include "tools/processes/process_snapshot.h"


namespace hk::processes {

void GatherProcessList(Json::Value& list) {
  ListingContext context;
  for (const PROCESSENTRY32W& entry : TakeProcessSnapshot()) {
    list.append(RenderProcess(CollectProcessFacts(entry, context)));
  }
}

}  // namespace hk::processes

namespace hk::processes {

Outcome ListProcesses(const std::string& webClientId) {
  Json::Value list(Json::arrayValue);
  bool caught = false;
  try {
    Process::CalculateProcessCPUUsage();
    GatherProcessList(list);
  } catch (...) {
    WriteLog(L"Error was caught while getting Process Details || LocalProcess::get_details() ||");
    caught = true;
  }
  // What was gathered before an error is still answered.
  if (list.empty()) return caught ? Outcome::Error() : Outcome::False();
  char* response = nullptr;
  POST_JSON_success("1", "1301", std::move(list), 1, &response, webClientId);
  if (!response) return Outcome::Error();
  Outcome answer = Outcome::Answer(response);
  hk::FreeText(response);
  return answer;
}

Outcome Terminate(DWORD processId) {
  hk::unique_handle process(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (process && ::TerminateProcess(process.get(), 0)) return Outcome::Answer();
  return Outcome::Error(::GetLastError());
}

}  // namespace hk::processes

int LocalProcess::get_details(char** result, std::string webClientId) {
  const hk::Outcome outcome = hk::processes::ListProcesses(webClientId);
  hk::StoreOutcomeText(outcome, result);
  return outcome.kind == hk::Outcome::Kind::kAnswer ? 1 : 0;
}

bool LocalProcess::terminate_process(DWORD processId, char** result) {
  const hk::Outcome outcome = hk::processes::Terminate(processId);
  hk::StoreOutcomeText(outcome, result);
  ::SetLastError(outcome.error);
  return false;
}
