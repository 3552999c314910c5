#include "pulse/pulse_endpoint.h"

#include <audioclient.h>

#include <new>

#include "pulse/pulse_connection.h"

namespace standin {
namespace {

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490u);  // ERROR_NOT_FOUND

// Collects the replies of one info-list query. Callbacks run inside libpulse,
// which no exception may cross: memory that runs out is noted instead.
struct EndpointReplies {
  std::vector<PulseEndpoint>* endpoints;
  bool outOfMemory = false;
};

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Appends the endpoint that one reply of a source or sink list describes.
// `recordSource` is what a stream on it records from.
template <class Info>
void CollectReply(const Info* info, int endOfList, void* userdata, EDataFlow flow,
                  const char* recordSource) {
  auto* replies = static_cast<EndpointReplies*>(userdata);
  if (endOfList != 0 || info == nullptr) return;
  try {
    PulseEndpoint endpoint;
    endpoint.flow = flow;
    endpoint.name = TextOrEmpty(info->name);
    endpoint.description = TextOrEmpty(info->description);
    endpoint.recordSource = TextOrEmpty(recordSource);
    endpoint.sampleSpec = info->sample_spec;
    endpoint.channelMap = info->channel_map;
    replies->endpoints->push_back(std::move(endpoint));
  } catch (const std::bad_alloc&) {
    replies->outOfMemory = true;
  }
}

void OnSourceInfo(pa_context*, const pa_source_info* info, int endOfList, void* userdata) {
  CollectReply(info, endOfList, userdata, eCapture, info != nullptr ? info->name : nullptr);
}

// A sink is recorded through its monitor source.
void OnSinkInfo(pa_context*, const pa_sink_info* info, int endOfList, void* userdata) {
  CollectReply(info, endOfList, userdata, eRender,
               info != nullptr ? info->monitor_source_name : nullptr);
}

// With the mainloop locked: runs one query and gathers its replies. A lookup by
// name of something that does not exist ends with an error and no reply, which
// leaves `endpoints` as it was.
HRESULT RunQuery(PulseConnection& connection, pa_operation* operation) {
  if (!connection.IsReady()) {
    if (operation != nullptr) pa_operation_unref(operation);
    return AUDCLNT_E_SERVICE_NOT_RUNNING;
  }
  return connection.WaitForOperation(operation) ? S_OK : AUDCLNT_E_SERVICE_NOT_RUNNING;
}

// A query's result once its replies are in.
HRESULT RepliesResult(HRESULT result, bool outOfMemory) {
  return SUCCEEDED(result) && outOfMemory ? E_OUTOFMEMORY : result;
}

HRESULT ListSources(PulseConnection& connection, std::vector<PulseEndpoint>* endpoints) {
  EndpointReplies replies{endpoints};
  const HRESULT result = RunQuery(
      connection, pa_context_get_source_info_list(connection.Context(), OnSourceInfo, &replies));
  return RepliesResult(result, replies.outOfMemory);
}

HRESULT ListSinks(PulseConnection& connection, std::vector<PulseEndpoint>* endpoints) {
  EndpointReplies replies{endpoints};
  const HRESULT result = RunQuery(
      connection, pa_context_get_sink_info_list(connection.Context(), OnSinkInfo, &replies));
  return RepliesResult(result, replies.outOfMemory);
}

struct ServerDefaults {
  std::string source;
  std::string sink;
  bool outOfMemory = false;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* defaults = static_cast<ServerDefaults*>(userdata);
  if (info == nullptr) return;
  try {
    defaults->source = TextOrEmpty(info->default_source_name);
    defaults->sink = TextOrEmpty(info->default_sink_name);
  } catch (const std::bad_alloc&) {
    defaults->outOfMemory = true;
  }
}

// With the mainloop locked: the source (or sink) of that name, if there is one.
HRESULT FindByName(PulseConnection& connection, EDataFlow flow, const std::string& name,
                   PulseEndpoint* endpoint) {
  if (name.empty()) return kNotFound;  // libpulse refuses to send an empty name
  std::vector<PulseEndpoint> found;
  EndpointReplies replies{&found};
  pa_context* context = connection.Context();
  pa_operation* operation =
      flow == eCapture
          ? pa_context_get_source_info_by_name(context, name.c_str(), OnSourceInfo, &replies)
          : pa_context_get_sink_info_by_name(context, name.c_str(), OnSinkInfo, &replies);
  const HRESULT result = RepliesResult(RunQuery(connection, operation), replies.outOfMemory);
  if (FAILED(result)) return result;
  // The server also answers for other spellings of a name (@DEFAULT_SOURCE@,
  // an index, ...); an id is only ever the name itself.
  if (found.empty() || found.front().name != name) return kNotFound;
  *endpoint = std::move(found.front());
  return S_OK;
}

}  // namespace

HRESULT ListPulseEndpoints(PulseConnection& connection, EDataFlow flow,
                           std::vector<PulseEndpoint>* endpoints) {
  MainloopLock lock(connection);
  std::vector<PulseEndpoint> listed;
  HRESULT result = S_OK;
  if (flow == eRender || flow == eAll) result = ListSinks(connection, &listed);
  if (SUCCEEDED(result) && (flow == eCapture || flow == eAll)) {
    result = ListSources(connection, &listed);
  }
  if (SUCCEEDED(result)) *endpoints = std::move(listed);
  return result;
}

HRESULT FindPulseEndpoint(PulseConnection& connection, const std::string& name,
                          PulseEndpoint* endpoint) {
  MainloopLock lock(connection);
  const HRESULT result = FindByName(connection, eCapture, name, endpoint);
  if (result != kNotFound) return result;
  return FindByName(connection, eRender, name, endpoint);
}

HRESULT FindDefaultPulseEndpoint(PulseConnection& connection, EDataFlow flow,
                                 PulseEndpoint* endpoint) {
  if (flow != eCapture && flow != eRender) return E_INVALIDARG;
  MainloopLock lock(connection);
  ServerDefaults defaults;
  const HRESULT result = RepliesResult(
      RunQuery(connection,
               pa_context_get_server_info(connection.Context(), OnServerInfo, &defaults)),
      defaults.outOfMemory);
  if (FAILED(result)) return result;
  const std::string& name = flow == eCapture ? defaults.source : defaults.sink;
  if (name.empty()) return kNotFound;
  return FindByName(connection, flow, name, endpoint);
}

}  // namespace standin
