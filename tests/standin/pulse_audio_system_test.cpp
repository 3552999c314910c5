// The PulseAudio audio system behind the Core Audio stand-in, against a real
// private server (run through tests/process/with_private_pulse_server.sh).
// Everything is reached the way the program reaches it: CoCreateInstance of
// MMDeviceEnumerator, then the COM interfaces.
#include <functiondiscoverykeys_devpkey.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/co_task_mem_ptr.h"
#include "capture/com_ptr.h"
#include "capture/core_audio.h"
#include "capture/prop_variant.h"
#include "common/text_encoding.h"
#include "common/unique_handle.h"
#include "standin/pulse_test_server.h"

namespace standin {
namespace {

using testing::ScopedEnvironment;
using velmoravad::ComPtr;
using velmoravad::CoTaskMemOut;
using velmoravad::CoTaskMemPtr;
using velmoravad::PropVariant;
using velmoravad::UniqueHandle;

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490u);

// Connections of this process's audio system to the server: clients named as
// pa_context_new names them.
int OurConnections() {
  return testing::CountPactlLines("list clients", "application.name = \"velmoravad-aggregate\"");
}

// Record streams of clients (the remap source's own stream is no client's).
int OurStreams() {
  return testing::CountPactlLines("list short source-outputs", "protocol-native.c");
}

// Whether the test server is PipeWire's (with_private_pulse_server.sh --pipewire).
bool OnPipeWire() {
  const char* script = std::getenv("PRIVATE_PULSE_SCRIPT");
  return script != nullptr && std::string(script).find("pipewire") != std::string::npos;
}

// The server's index of the source with this name, as text; empty when absent.
std::string SourceIndex(const std::string& name) {
  bool ok = false;
  std::istringstream lines(testing::RunShell("timeout 5 pactl list short sources", &ok));
  for (std::string index, source, rest; lines >> index >> source && std::getline(lines, rest);) {
    if (source == name) return index;
  }
  return {};
}

struct Endpoint {
  const char* id;
  const wchar_t* friendlyName;
  WORD channels;
};

// The capture endpoints of the test server, in the order the server lists them.
// "six" is a remapped source over the 8-channel "six.pipe" (see
// private_pulse_server.sh); "spk.monitor" is the monitor of the sink "spk".
const std::vector<Endpoint> kCaptureEndpoints = {
    {"app2", L"VelmoraDSP Application 2 Output", 2},
    {"app1", L"VelmoraDSP Application 1 Output", 1},
    {"six.pipe", L"Pipe of VelmoraDSP Application 3 Output", 8},
    {"six", L"VelmoraDSP Application 3 Output", 6},
    {"mic", L"Mikrofon \u00fc \"Studio\" it's", 4},
    {"spk.monitor", L"Monitor of Speakers", 2},
    {"feed2", L"Feed stereo", 2},
    {"feed1", L"Feed mono", 1},
};

// 16-bit PCM at 48000 Hz as the capture code asks for it.
WAVEFORMATEXTENSIBLE RequestedFormat(WORD channels) {
  WAVEFORMATEXTENSIBLE format{};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = channels;
  format.Format.nSamplesPerSec = 48000;
  format.Format.wBitsPerSample = 16;
  format.Format.nBlockAlign = static_cast<WORD>(channels * 2);
  format.Format.nAvgBytesPerSec = 48000u * format.Format.nBlockAlign;
  format.Format.cbSize = 22;
  format.Samples.wValidBitsPerSample = 16;
  format.dwChannelMask = channels == 1 ? SPEAKER_FRONT_CENTER : 3;
  format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return format;
}

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

// Polls until the condition holds or a few seconds pass; for effects the server
// applies asynchronously (a client leaving, a stream going away).
template <class Condition>
bool Eventually(Condition condition) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

class PulseAudioSystemTest : public ::testing::Test {
 protected:
  // Runs once for every suite of this fixture; the sources are added once.
  static void SetUpTestSuite() {
    if (!testing::HasPrivateServer() || serverReady_) return;
    bool ok = true;
    const auto run = [&ok](std::vector<std::string> arguments) {
      bool step = false;
      testing::RunServerScript(arguments, &step);
      ok = ok && step;
    };
    run({"add-source", "app2", "VelmoraDSP Application 2 Output", "2"});
    run({"add-source", "app1", "VelmoraDSP Application 1 Output", "1"});
    run({"add-source", "six", "VelmoraDSP Application 3 Output", "6"});
    // pipewire-pulse cannot carry quotes in a description (see its script).
    run({"add-source", "mic", OnPipeWire() ? "Mikrofon \u00fc" : "Mikrofon \u00fc \"Studio\" it's",
         "4", "44100"});
    run({"add-sink", "spk", "Speakers", "2"});
    run({"add-source", "feed2", "Feed stereo", "2"});
    run({"add-source", "feed1", "Feed mono", "1"});
    serverReady_ = ok;
  }

  void SetUp() override {
    ASSERT_TRUE(testing::HasPrivateServer())
        << "run through tests/process/with_private_pulse_server.sh";
    ASSERT_TRUE(serverReady_) << "the test sources could not be added";
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }

  void TearDown() override {
    CoUninitialize();
    // Every test releases everything it made: the connection is gone.
    EXPECT_TRUE(Eventually([] { return OurConnections() == 0; }));
  }

  static ComPtr<IMMDeviceEnumerator> NewEnumerator() {
    ComPtr<IMMDeviceEnumerator> enumerator;
    EXPECT_EQ(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                               __uuidof(IMMDeviceEnumerator), enumerator.ReceiveVoid()),
              S_OK);
    return enumerator;
  }

  static ComPtr<IMMDevice> DeviceById(const char* id) {
    ComPtr<IMMDevice> device;
    ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
    if (enumerator) {
      EXPECT_EQ(enumerator->GetDevice(Wide(id).c_str(), device.Receive()), S_OK);
    }
    return device;
  }

  static ComPtr<IAudioClient> Activate(IMMDevice* device) {
    ComPtr<IAudioClient> client;
    EXPECT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.ReceiveVoid()),
              S_OK);
    return client;
  }

  static std::wstring IdOf(IMMDevice* device) {
    CoTaskMemPtr<wchar_t> id;
    EXPECT_EQ(device->GetId(CoTaskMemOut<wchar_t>(id).Address()), S_OK);
    return id ? std::wstring(id.get()) : std::wstring();
  }

  static std::wstring FriendlyNameOf(IMMDevice* device) {
    ComPtr<IPropertyStore> store;
    EXPECT_EQ(device->OpenPropertyStore(STGM_READ, store.Receive()), S_OK);
    if (!store) return {};
    PropVariant value;
    EXPECT_EQ(store->GetValue(PKEY_Device_FriendlyName, value.Receive()), S_OK);
    EXPECT_EQ(value.Get().vt, VT_LPWSTR);
    return value.WideStringOrNull() != nullptr ? value.WideStringOrNull() : L"";
  }

  static WORD MixChannelsOf(IMMDevice* device) {
    ComPtr<IAudioClient> client = Activate(device);
    if (!client) return 0;
    CoTaskMemPtr<WAVEFORMATEX> format;
    EXPECT_EQ(client->GetMixFormat(CoTaskMemOut<WAVEFORMATEX>(format).Address()), S_OK);
    return format ? format->nChannels : 0;
  }

  // Initialize, event, capture client, as the capture code opens a stream.
  static void OpenStream(IAudioClient* client, WORD channels, bool exclusive, UniqueHandle* event,
                         ComPtr<IAudioCaptureClient>* capture) {
    const WAVEFORMATEXTENSIBLE format = RequestedFormat(channels);
    const REFERENCE_TIME duration = exclusive ? 1000000 : 0;
    ASSERT_EQ(client->Initialize(exclusive ? AUDCLNT_SHAREMODE_EXCLUSIVE : AUDCLNT_SHAREMODE_SHARED,
                                 AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, duration,
                                 &format.Format, nullptr),
              S_OK);
    *event = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    ASSERT_EQ(client->SetEventHandle(event->Get()), S_OK);
    ASSERT_EQ(client->GetService(__uuidof(IAudioCaptureClient), capture->ReceiveVoid()), S_OK);
  }

  // An audio client with a stream opened as OpenStream opens it; released
  // capture client first.
  struct Stream {
    ComPtr<IAudioClient> client;
    UniqueHandle event;
    ComPtr<IAudioCaptureClient> capture;
  };

  static void OpenStreamById(const char* id, WORD channels, bool exclusive, Stream* stream) {
    ComPtr<IMMDevice> device = DeviceById(id);
    ASSERT_TRUE(device);
    stream->client = Activate(device.Get());
    ASSERT_TRUE(stream->client);
    OpenStream(stream->client.Get(), channels, exclusive, &stream->event, &stream->capture);
  }

  // Reads packets until `samples` samples have come, or the time is up; notes
  // the frames of each packet in *packetFrames when given.
  static std::vector<std::int16_t> Capture(IAudioCaptureClient* capture, WORD channels,
                                           std::size_t samples,
                                           std::vector<UINT32>* packetFrames = nullptr) {
    std::vector<std::int16_t> captured;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (captured.size() < samples && std::chrono::steady_clock::now() < deadline) {
      UINT32 next = 0;
      EXPECT_EQ(capture->GetNextPacketSize(&next), S_OK);
      if (next == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      BYTE* data = nullptr;
      UINT32 frames = 0;
      DWORD flags = 0;
      EXPECT_EQ(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK);
      EXPECT_EQ(frames, next);
      if (packetFrames != nullptr) packetFrames->push_back(frames);
      const std::size_t count = std::size_t{frames} * channels;
      if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0) {
        captured.insert(captured.end(), count, 0);
      } else {
        const std::size_t start = captured.size();
        captured.resize(start + count);
        std::memcpy(captured.data() + start, data, count * sizeof(std::int16_t));
      }
      EXPECT_EQ(capture->ReleaseBuffer(frames), S_OK);
    }
    return captured;
  }

  static std::vector<std::int16_t> Ramp(std::size_t samples) {
    std::vector<std::int16_t> ramp(samples);
    for (std::size_t k = 0; k < samples; ++k) {
      ramp[k] = static_cast<std::int16_t>(static_cast<std::uint16_t>(k));
    }
    return ramp;
  }

  static void Feed(const char* source, const char* pattern, std::size_t frames,
                   const char* value = "0") {
    bool ok = false;
    testing::RunServerScript({"feed", source, pattern, std::to_string(frames), value}, &ok);
    EXPECT_TRUE(ok) << "feeding " << source;
  }

  static inline bool serverReady_ = false;
};

// ---- Enumeration and lookup ----

TEST_F(PulseAudioSystemTest, CaptureEndpointsAreEverySourceInServerOrder) {
  ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
  ASSERT_TRUE(enumerator);
  ComPtr<IMMDeviceCollection> collection;
  ASSERT_EQ(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, collection.Receive()),
            S_OK);
  UINT count = 0;
  ASSERT_EQ(collection->GetCount(&count), S_OK);
  ASSERT_EQ(count, kCaptureEndpoints.size());
  for (UINT index = 0; index < count; ++index) {
    SCOPED_TRACE(kCaptureEndpoints[index].id);
    ComPtr<IMMDevice> device;
    ASSERT_EQ(collection->Item(index, device.Receive()), S_OK);
    EXPECT_EQ(IdOf(device.Get()), Wide(kCaptureEndpoints[index].id));
    EXPECT_EQ(FriendlyNameOf(device.Get()), kCaptureEndpoints[index].friendlyName);
    EXPECT_EQ(MixChannelsOf(device.Get()), kCaptureEndpoints[index].channels);
    DWORD state = 0;
    EXPECT_EQ(device->GetState(&state), S_OK);
    EXPECT_EQ(state, DEVICE_STATE_ACTIVE);
  }
  ComPtr<IMMDevice> beyond;
  EXPECT_EQ(collection->Item(count, beyond.Receive()), E_INVALIDARG);
  EXPECT_FALSE(beyond);
}

TEST_F(PulseAudioSystemTest, RenderEndpointsAreSinksAndTheStateMaskIsHonoured) {
  ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
  ASSERT_TRUE(enumerator);
  ComPtr<IMMDeviceCollection> render;
  ASSERT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATEMASK_ALL, render.Receive()), S_OK);
  UINT count = 0;
  ASSERT_EQ(render->GetCount(&count), S_OK);
  ASSERT_EQ(count, 1u);
  ComPtr<IMMDevice> sink;
  ASSERT_EQ(render->Item(0, sink.Receive()), S_OK);
  EXPECT_EQ(IdOf(sink.Get()), L"spk");
  EXPECT_EQ(FriendlyNameOf(sink.Get()), L"Speakers");
  EXPECT_EQ(MixChannelsOf(sink.Get()), 2);

  ComPtr<IMMDeviceCollection> all;
  ASSERT_EQ(enumerator->EnumAudioEndpoints(eAll, DEVICE_STATE_ACTIVE, all.Receive()), S_OK);
  ASSERT_EQ(all->GetCount(&count), S_OK);
  EXPECT_EQ(count, kCaptureEndpoints.size() + 1);

  // Every endpoint is active, so a mask without ACTIVE selects none.
  ComPtr<IMMDeviceCollection> inactive;
  ASSERT_EQ(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_DISABLED | DEVICE_STATE_UNPLUGGED,
                                           inactive.Receive()),
            S_OK);
  ASSERT_EQ(inactive->GetCount(&count), S_OK);
  EXPECT_EQ(count, 0u);

  ComPtr<IMMDeviceCollection> invalid;
  EXPECT_EQ(enumerator->EnumAudioEndpoints(static_cast<EDataFlow>(3), DEVICE_STATE_ACTIVE,
                                           invalid.Receive()),
            E_INVALIDARG);
  EXPECT_FALSE(invalid);
}

struct LookupCase {
  const char* id;  // "<app1>" stands for the server's index of the source app1
  bool found;
};

class GetDeviceTest : public PulseAudioSystemTest,
                      public ::testing::WithParamInterface<LookupCase> {};

// Only the exact name of a source or sink is an id. The server also resolves
// other spellings (the defaults, indices), which must not reach an endpoint
// under a name that is not its own.
TEST_P(GetDeviceTest, FindsOnlyTheSourceOrSinkOfExactlyThatName) {
  std::string id = GetParam().id;
  const std::string marker = "<app1>";
  if (const std::size_t at = id.find(marker); at != std::string::npos) {
    const std::string index = SourceIndex("app1");
    ASSERT_FALSE(index.empty());
    id.replace(at, marker.size(), index);
  }
  ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
  ASSERT_TRUE(enumerator);
  ComPtr<IMMDevice> device;
  const std::wstring wide = Wide(id.c_str());
  if (GetParam().found) {
    ASSERT_EQ(enumerator->GetDevice(wide.c_str(), device.Receive()), S_OK);
    EXPECT_EQ(IdOf(device.Get()), wide);
  } else {
    EXPECT_EQ(enumerator->GetDevice(wide.c_str(), device.Receive()), kNotFound);
    EXPECT_FALSE(device);
  }
}

void PrintTo(const LookupCase& lookup, std::ostream* out) { *out << '"' << lookup.id << '"'; }

INSTANTIATE_TEST_SUITE_P(
    Ids, GetDeviceTest,
    ::testing::Values(LookupCase{"app1", true}, LookupCase{"six", true},
                      LookupCase{"spk.monitor", true}, LookupCase{"spk", true},
                      LookupCase{"nope", false}, LookupCase{"", false}, LookupCase{"APP1", false},
                      LookupCase{"app1 ", false},
                      LookupCase{"VelmoraDSP Application 1 Output", false},
                      LookupCase{"@DEFAULT_SOURCE@", false}, LookupCase{"@DEFAULT_SINK@", false},
                      LookupCase{"@DEFAULT_MONITOR@", false}, LookupCase{"<app1>", false},
                      LookupCase{"+<app1>", false}, LookupCase{"0<app1>", false}));

TEST_F(PulseAudioSystemTest, DefaultEndpointsAreTheServerDefaults) {
  ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
  ASSERT_TRUE(enumerator);
  ComPtr<IMMDevice> sink;
  ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, sink.Receive()), S_OK);
  EXPECT_EQ(IdOf(sink.Get()), L"spk");  // the only sink

  ComPtr<IMMDevice> source;
  ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, source.Receive()), S_OK);
  const std::wstring id = IdOf(source.Get());
  EXPECT_TRUE(std::any_of(kCaptureEndpoints.begin(), kCaptureEndpoints.end(),
                          [&id](const Endpoint& endpoint) { return Wide(endpoint.id) == id; }))
      << "default source " << velmoravad::WideToUtf8(id);

  ComPtr<IMMDevice> both;
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eAll, eConsole, both.Receive()), E_INVALIDARG);
  EXPECT_FALSE(both);
}

TEST_F(PulseAudioSystemTest, PropertyStoreHasOnlyTheFriendlyNameAndIsReadOnly) {
  ComPtr<IMMDevice> device = DeviceById("app2");
  ASSERT_TRUE(device);
  ComPtr<IPropertyStore> store;
  ASSERT_EQ(device->OpenPropertyStore(STGM_READ, store.Receive()), S_OK);

  PropVariant name;
  ASSERT_EQ(store->GetValue(PKEY_Device_FriendlyName, name.Receive()), S_OK);
  ASSERT_EQ(name.Get().vt, VT_LPWSTR);
  EXPECT_STREQ(name.WideStringOrNull(), L"VelmoraDSP Application 2 Output");

  const PROPERTYKEY otherKey = {PKEY_Device_FriendlyName.fmtid, 2};  // device description
  PropVariant other;
  EXPECT_EQ(store->GetValue(otherKey, other.Receive()), S_OK);
  EXPECT_EQ(other.Get().vt, VT_EMPTY);

  EXPECT_LT(store->SetValue(PKEY_Device_FriendlyName, name.Get()), 0);
  ComPtr<IPropertyStore> writable;
  EXPECT_LT(device->OpenPropertyStore(0x1 /* STGM_WRITE */, writable.Receive()), 0);
  EXPECT_FALSE(writable);
}

// ---- COM rules ----

TEST_F(PulseAudioSystemTest, ObjectsCountReferencesAndAnswerOnlyTheirOwnInterfaces) {
  ComPtr<IMMDevice> device = DeviceById("app2");
  ASSERT_TRUE(device);
  IMMDevice* raw = device.Get();
  EXPECT_EQ(raw->AddRef(), 2u);
  EXPECT_EQ(raw->Release(), 1u);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(raw->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(raw));
  EXPECT_EQ(unknown->Release(), 1u);
  IMMDevice* same = nullptr;
  ASSERT_EQ(raw->QueryInterface(__uuidof(IMMDevice), reinterpret_cast<void**>(&same)), S_OK);
  EXPECT_EQ(same->Release(), 1u);
  void* other = &other;
  EXPECT_EQ(raw->QueryInterface(__uuidof(IAudioClient), &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);

  void* notAClient = &notAClient;
  EXPECT_EQ(raw->Activate(__uuidof(IMMDeviceEnumerator), CLSCTX_ALL, nullptr, &notAClient),
            E_NOINTERFACE);
  EXPECT_EQ(notAClient, nullptr);

  ComPtr<IAudioClient> client = Activate(raw);
  ASSERT_TRUE(client);
  IAudioCaptureClient* wrong = nullptr;
  EXPECT_EQ(
      client.Get()->QueryInterface(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&wrong)),
      E_NOINTERFACE);
}

TEST_F(PulseAudioSystemTest, DevicesAndStreamsOutliveTheEnumeratorOnOneSharedConnection) {
  ComPtr<IMMDeviceEnumerator> first = NewEnumerator();
  ComPtr<IMMDeviceEnumerator> second = NewEnumerator();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(OurConnections(), 1);

  ComPtr<IMMDevice> device;
  ASSERT_EQ(first->GetDevice(L"feed1", device.Receive()), S_OK);
  first.Reset();
  second.Reset();
  EXPECT_EQ(OurConnections(), 1);

  ComPtr<IAudioClient> client = Activate(device.Get());
  ASSERT_TRUE(client);
  device.Reset();
  UniqueHandle event;
  ComPtr<IAudioCaptureClient> capture;
  OpenStream(client.Get(), 1, true, &event, &capture);
  EXPECT_EQ(OurStreams(), 1);

  // The capture client alone keeps the stream.
  client.Reset();
  EXPECT_EQ(OurStreams(), 1);
  UINT32 next = 1;
  EXPECT_EQ(capture->GetNextPacketSize(&next), S_OK);
  EXPECT_EQ(next, 0u);
  capture.Reset();
  EXPECT_TRUE(Eventually([] { return OurStreams() == 0; }));
  // TearDown checks that the connection has gone with the last object.
}

// ---- Audio client ----

TEST_F(PulseAudioSystemTest, IsFormatSupportedAcceptsOnly16BitPcmAt48000WithTheEndpointChannels) {
  ComPtr<IMMDevice> device = DeviceById("mic");  // 4 channels at 44100 Hz on the server
  ASSERT_TRUE(device);
  ComPtr<IAudioClient> client = Activate(device.Get());
  ASSERT_TRUE(client);

  CoTaskMemPtr<WAVEFORMATEX> mix;
  ASSERT_EQ(client->GetMixFormat(CoTaskMemOut<WAVEFORMATEX>(mix).Address()), S_OK);
  EXPECT_EQ(mix->wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(mix->nChannels, 4);
  EXPECT_EQ(mix->nSamplesPerSec, 48000u);

  const WAVEFORMATEXTENSIBLE requested = RequestedFormat(4);
  WAVEFORMATEX plain = requested.Format;
  plain.wFormatTag = WAVE_FORMAT_PCM;
  plain.cbSize = 0;
  const WAVEFORMATEX* accepted[] = {&requested.Format, &plain, mix.get()};
  for (AUDCLNT_SHAREMODE mode : {AUDCLNT_SHAREMODE_SHARED, AUDCLNT_SHAREMODE_EXCLUSIVE}) {
    for (const WAVEFORMATEX* format : accepted) {
      CoTaskMemPtr<WAVEFORMATEX> closest;
      EXPECT_EQ(
          client->IsFormatSupported(mode, format, CoTaskMemOut<WAVEFORMATEX>(closest).Address()),
          S_OK);
      EXPECT_FALSE(closest);
    }
  }

  std::vector<WAVEFORMATEXTENSIBLE> refused(5, requested);
  refused[0].Format.nSamplesPerSec = 44100;
  refused[0].Format.nAvgBytesPerSec = 44100u * 8;
  refused[1] = RequestedFormat(2);
  refused[2].Samples.wValidBitsPerSample = 12;
  refused[3].SubFormat.Data1 = 3;  // IEEE float
  refused[4].Format.wBitsPerSample = 24;
  for (const WAVEFORMATEXTENSIBLE& format : refused) {
    CoTaskMemPtr<WAVEFORMATEX> closest;
    EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &format.Format,
                                        CoTaskMemOut<WAVEFORMATEX>(closest).Address()),
              S_FALSE);
    ASSERT_TRUE(closest);
    EXPECT_EQ(closest->nChannels, 4);
    EXPECT_EQ(closest->nSamplesPerSec, 48000u);
    EXPECT_EQ(closest->wBitsPerSample, 16);

    CoTaskMemPtr<WAVEFORMATEX> none;
    EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format.Format,
                                        CoTaskMemOut<WAVEFORMATEX>(none).Address()),
              AUDCLNT_E_UNSUPPORTED_FORMAT);
    EXPECT_FALSE(none);
  }
}

TEST_F(PulseAudioSystemTest, InitializeSetsUpOneCorkedStreamInEitherShareMode) {
  for (const bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    ComPtr<IMMDevice> device = DeviceById("six");
    ASSERT_TRUE(device);
    ComPtr<IAudioClient> client = Activate(device.Get());
    ASSERT_TRUE(client);

    // Before Initialize there is no stream to serve, start or stop.
    ComPtr<IAudioCaptureClient> early;
    EXPECT_EQ(client->GetService(__uuidof(IAudioCaptureClient), early.ReceiveVoid()),
              AUDCLNT_E_NOT_INITIALIZED);
    EXPECT_EQ(client->Start(), AUDCLNT_E_NOT_INITIALIZED);
    EXPECT_EQ(client->Stop(), AUDCLNT_E_NOT_INITIALIZED);

    const WAVEFORMATEXTENSIBLE wrong = RequestedFormat(2);
    const AUDCLNT_SHAREMODE mode =
        exclusive ? AUDCLNT_SHAREMODE_EXCLUSIVE : AUDCLNT_SHAREMODE_SHARED;
    EXPECT_EQ(
        client->Initialize(mode, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, 0, 0, &wrong.Format, nullptr),
        AUDCLNT_E_UNSUPPORTED_FORMAT);

    const WAVEFORMATEXTENSIBLE format = RequestedFormat(6);
    ASSERT_EQ(client->Initialize(mode, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, 1000000, 1000000,
                                 &format.Format, nullptr),
              S_OK);
    EXPECT_EQ(OurStreams(), 1);
    EXPECT_EQ(client->Initialize(mode, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, 1000000, 1000000,
                                 &format.Format, nullptr),
              AUDCLNT_E_ALREADY_INITIALIZED);
    EXPECT_EQ(OurStreams(), 1);

    EXPECT_EQ(client->Stop(), S_FALSE);  // never started: nothing to do
    EXPECT_EQ(client->Start(), AUDCLNT_E_EVENTHANDLE_NOT_SET);
    UniqueHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    ASSERT_EQ(client->SetEventHandle(event.Get()), S_OK);
    EXPECT_EQ(client->Start(), S_OK);
    EXPECT_EQ(client->Start(), AUDCLNT_E_NOT_STOPPED);
    EXPECT_EQ(client->Stop(), S_OK);
    EXPECT_EQ(client->Stop(), S_FALSE);

    client.Reset();
    EXPECT_TRUE(Eventually([] { return OurStreams() == 0; }));
  }
}

TEST_F(PulseAudioSystemTest, RenderEndpointRecordsFromItsMonitor) {
  Stream stream;
  ASSERT_NO_FATAL_FAILURE(OpenStreamById("spk", 2, false, &stream));
  IAudioClient* client = stream.client.Get();
  IAudioCaptureClient* capture = stream.capture.Get();
  EXPECT_EQ(OurStreams(), 1);
  EXPECT_EQ(client->Start(), S_OK);
  // A null sink's monitor delivers silence while nothing plays.
  const std::vector<std::int16_t> captured = Capture(capture, 2, 960);
  ASSERT_GE(captured.size(), 960u);
  EXPECT_EQ(captured, std::vector<std::int16_t>(captured.size(), 0));
}

// ---- Capture ----

TEST_F(PulseAudioSystemTest, FedSamplesArriveBitExactThroughGetBuffer) {
  struct Case {
    const char* source;
    WORD channels;
    bool exclusive;
  };
  // feed2 and feed1 are plain pipe sources, six a remap over an 8-channel one.
  for (const Case& test : {Case{"feed2", 2, true}, Case{"feed1", 1, false}, Case{"six", 6, true}}) {
    SCOPED_TRACE(test.source);
    ComPtr<IMMDevice> device = DeviceById(test.source);
    ASSERT_TRUE(device);
    ComPtr<IAudioClient> client = Activate(device.Get());
    ASSERT_TRUE(client);
    UniqueHandle event;
    ComPtr<IAudioCaptureClient> capture;
    OpenStream(client.Get(), test.channels, test.exclusive, &event, &capture);

    // Nothing waits before the stream runs.
    UINT32 next = 1;
    EXPECT_EQ(capture->GetNextPacketSize(&next), S_OK);
    EXPECT_EQ(next, 0u);
    BYTE* data = reinterpret_cast<BYTE*>(&next);
    UINT32 frames = 1;
    DWORD flags = 1;
    EXPECT_EQ(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), AUDCLNT_S_BUFFER_EMPTY);
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(capture->ReleaseBuffer(0), AUDCLNT_E_OUT_OF_ORDER);

    ASSERT_EQ(client->Start(), S_OK);
    const std::size_t frameCount = 48000 + 17;  // one second and a bit
    Feed(test.source, "ramp", frameCount);
    const std::size_t samples = frameCount * test.channels;
    const std::vector<std::int16_t> captured = Capture(capture.Get(), test.channels, samples);
    EXPECT_EQ(captured.size(), samples);
    EXPECT_TRUE(captured == Ramp(samples)) << "the captured samples differ from the ramp fed";
    EXPECT_EQ(client->Stop(), S_OK);
  }
}

TEST_F(PulseAudioSystemTest, PacketIsHandedOutOnceAndReleasedWholeOrNotAtAll) {
  Stream stream;
  ASSERT_NO_FATAL_FAILURE(OpenStreamById("feed2", 2, true, &stream));
  IAudioClient* client = stream.client.Get();
  IAudioCaptureClient* capture = stream.capture.Get();
  ASSERT_EQ(client->Start(), S_OK);
  // More than one 100 ms fragment, so that something follows the first packet.
  constexpr std::size_t kFed = 4800 + 1200;
  Feed("feed2", "ramp", kFed);

  UINT32 next = 0;
  ASSERT_TRUE(Eventually([&] { return capture->GetNextPacketSize(&next) == S_OK && next > 0; }));
  BYTE* data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  ASSERT_EQ(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK);
  ASSERT_EQ(frames, next);
  EXPECT_EQ(flags, 0u);
  const std::int16_t first = reinterpret_cast<const std::int16_t*>(data)[0];
  EXPECT_EQ(first, 0);

  BYTE* again = nullptr;
  UINT32 againFrames = 0;
  EXPECT_EQ(capture->GetBuffer(&again, &againFrames, &flags, nullptr, nullptr),
            AUDCLNT_E_OUT_OF_ORDER);
  EXPECT_EQ(capture->ReleaseBuffer(frames + 1), static_cast<HRESULT>(0x88890011u));
  // Releasing 0 frames keeps the packet for the next GetBuffer.
  EXPECT_EQ(capture->ReleaseBuffer(0), S_OK);
  ASSERT_EQ(capture->GetBuffer(&again, &againFrames, &flags, nullptr, nullptr), S_OK);
  EXPECT_EQ(againFrames, frames);
  EXPECT_EQ(reinterpret_cast<const std::int16_t*>(again)[0], first);
  EXPECT_EQ(capture->ReleaseBuffer(againFrames), S_OK);
  EXPECT_EQ(capture->ReleaseBuffer(againFrames), AUDCLNT_E_OUT_OF_ORDER);

  // Stop keeps what had arrived: read on up to the last packet of the feed,
  // stop, and that packet is still there.
  std::size_t read = frames;  // frames of the feed read so far
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the rest of the feed did not come";
    ASSERT_EQ(capture->GetNextPacketSize(&next), S_OK);
    if (next == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    if (read + next >= kFed) break;
    ASSERT_EQ(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK);
    ASSERT_EQ(capture->ReleaseBuffer(frames), S_OK);
    read += frames;
  }
  ASSERT_EQ(read + next, kFed);
  EXPECT_EQ(client->Stop(), S_OK);
  ASSERT_EQ(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK);
  ASSERT_EQ(frames, next);
  const auto* last = reinterpret_cast<const std::int16_t*>(data);
  EXPECT_EQ(last[0], static_cast<std::int16_t>(read * 2));
  EXPECT_EQ(last[std::size_t{frames} * 2 - 1], static_cast<std::int16_t>(kFed * 2 - 1));
  EXPECT_EQ(capture->ReleaseBuffer(frames), S_OK);
}

struct FragmentCase {
  const char* name;
  bool exclusive;
  UINT32 largestPacketFrames;  // twice the fragment asked for: 10 ms shared, 100 ms exclusive
};

class TimerDrivenSourceTest : public PulseAudioSystemTest,
                              public ::testing::WithParamInterface<FragmentCase> {};

// A sink's monitor runs on the server's timer, as a sound card does, and hands
// out what each period gathered. Streams ask for fragments of their own size,
// so no burst outgrows the one second a caller keeps, and every sample played
// arrives unchanged.
TEST_P(TimerDrivenSourceTest, PacketsStayNearTheFragmentAskedForAndSamplesArriveIntact) {
  Stream stream;
  ASSERT_NO_FATAL_FAILURE(OpenStreamById("spk", 2, GetParam().exclusive, &stream));
  IAudioClient* client = stream.client.Get();
  IAudioCaptureClient* capture = stream.capture.Get();
  ASSERT_EQ(client->Start(), S_OK);

  // pacat plays one second of "counted" frames (tags 1 and 2) in real time.
  // After a quarter of a second to settle in, half a second of them must come
  // unchanged, each the next of the count. Only silence may break the count:
  // where the player fell behind, the server plays silence and drops what
  // comes too late (PipeWire does so readily, as pacat may miss its 5 ms
  // quantum under load), and a sink may skip the first frames of a new input.
  // (Under load PipeWire has also changed one period of samples early in the
  // play.) Capture itself must lose, repeat or change nothing.
  constexpr std::size_t kFrames = 48000;
  constexpr std::size_t kSettlingFrames = kFrames / 4;
  constexpr std::size_t kCheckedFrames = kFrames / 2;
  testing::BackgroundFeed feed({"spk", "counted", std::to_string(kFrames), "1"});
  std::vector<UINT32> packetFrames;
  std::size_t played = 0;     // frames of the count seen after settling in
  std::size_t differing = 0;  // of those, frames not the next of the count
  std::string firstDiffering;
  std::size_t settling = 0;  // frames of the count seen while settling in
  bool counting = false;     // a frame of the count came, and no silence since
  std::size_t counted = 0;   // what the next frame carries while counting
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (played < kCheckedFrames) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the samples played did not come";
    const std::vector<std::int16_t> more = Capture(capture, 2, 960, &packetFrames);
    for (std::size_t k = 0; k + 1 < more.size() && played < kCheckedFrames; k += 2) {
      const auto first = static_cast<std::uint16_t>(more[k]);
      const auto second = static_cast<std::uint16_t>(more[k + 1]);
      if (first == 0 && second == 0) {  // silence: the count may go on anywhere after it
        counting = false;
        continue;
      }
      if (!counting) counted = first & 2047u;
      counting = true;
      const bool next = first == ((1u << 11) | counted) && second == ((2u << 11) | counted);
      if (settling < kSettlingFrames) {
        ++settling;
      } else {
        if (!next && differing++ == 0) {
          std::ostringstream at;
          at << "first at frame " << played << ": " << std::hex << first << " " << second
             << " for count " << counted;
          firstDiffering = at.str();
        }
        ++played;
      }
      counted = (counted + 1) % 2048;
    }
  }
  EXPECT_TRUE(feed.Finish());
  EXPECT_EQ(differing, 0u) << "of " << played << " frames played; " << firstDiffering;
  ASSERT_FALSE(packetFrames.empty());
  const UINT32 largest = *std::max_element(packetFrames.begin(), packetFrames.end());
  EXPECT_LE(largest, GetParam().largestPacketFrames);
  RecordProperty("largest_packet_frames", static_cast<int>(largest));
}

INSTANTIATE_TEST_SUITE_P(ShareModes, TimerDrivenSourceTest,
                         ::testing::Values(FragmentCase{"Shared", false, 2 * 480},
                                           FragmentCase{"Exclusive", true, 2 * 4800}),
                         [](const ::testing::TestParamInfo<FragmentCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- An absent or broken server ----

TEST_F(PulseAudioSystemTest, MissingServerFailsAtOnce) {
  ScopedEnvironment server("PULSE_SERVER", "unix:/nonexistent/velmoravad/pulse.sock");
  ComPtr<IMMDeviceEnumerator> enumerator;
  EXPECT_EQ(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                             __uuidof(IMMDeviceEnumerator), enumerator.ReceiveVoid()),
            AUDCLNT_E_SERVICE_NOT_RUNNING);
  EXPECT_FALSE(enumerator);
}

TEST_F(PulseAudioSystemTest, ServerThatNeverAnswersFailsAfterTheReplyTimeout) {
  // A listening socket that accepts nothing: the connection is queued but no
  // reply ever comes, so only the bound on the wait ends it.
  const std::string path = std::string(std::getenv("PRIVATE_PULSE_DIR")) + "/silent.sock";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  {
    ScopedEnvironment server("PULSE_SERVER", "unix:" + path);
    ComPtr<IMMDeviceEnumerator> enumerator;
    EXPECT_EQ(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                               __uuidof(IMMDeviceEnumerator), enumerator.ReceiveVoid()),
              AUDCLNT_E_SERVICE_NOT_RUNNING);
    EXPECT_FALSE(enumerator);
  }
  close(listener);
  unlink(path.c_str());
}

// ---- Losing the endpoint or the audio system under a running stream ----

struct LossCase {
  const char* name;
  const char* event;    // the script command; it names the source, or the server's directory
  HRESULT result;       // of the capture calls, Start, Stop and a new Initialize
  HRESULT enumeration;  // of listing the endpoints, and of a new enumerator
  HRESULT lookup;       // of GetDevice for the endpoint lost
};

class LossTest : public PulseAudioSystemTest, public ::testing::WithParamInterface<LossCase> {};

// The caller polls every 10 ms and ends its run at the first failure, so the
// loss must show at once, as Windows reports it, and never hang a call. A
// packet handed out before it keeps its samples until it is released.
TEST_P(LossTest, EveryCallReportsItAndThePacketHandedOutStaysIntact) {
  const LossCase& loss = GetParam();
  testing::ScopedSecondServer server;
  ASSERT_TRUE(server.Started());
  bool ok = false;
  testing::RunServerScript({"add-source", "doomed", "Doomed", "2"}, &ok);
  ASSERT_TRUE(ok);
  ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
  ASSERT_TRUE(enumerator);
  ComPtr<IMMDevice> device;
  ASSERT_EQ(enumerator->GetDevice(L"doomed", device.Receive()), S_OK);
  ComPtr<IAudioClient> client = Activate(device.Get());
  ASSERT_TRUE(client);
  UniqueHandle event;
  ComPtr<IAudioCaptureClient> capture;
  OpenStream(client.Get(), 2, false, &event, &capture);
  ASSERT_EQ(client->Start(), S_OK);
  Feed("doomed", "counted", 4800, "1");

  // The first packet of fed samples is held while the loss happens. (A source
  // that runs like a sound card, as PipeWire's pipe source does, delivers
  // silence before them.)
  BYTE* data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  UINT32 next = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the samples fed did not come";
    ASSERT_EQ(capture->GetNextPacketSize(&next), S_OK);
    if (next == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    ASSERT_EQ(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK);
    if (reinterpret_cast<const std::int16_t*>(data)[0] != 0) break;
    ASSERT_EQ(capture->ReleaseBuffer(frames), S_OK);
  }
  const auto* samples = reinterpret_cast<const std::int16_t*>(data);
  const std::vector<std::int16_t> handedOut(samples, samples + std::size_t{frames} * 2);
  const auto samplesHeld = [&] {
    return std::equal(handedOut.begin(), handedOut.end(),
                      reinterpret_cast<const std::int16_t*>(data));
  };

  testing::RunServerScript(
      {loss.event, loss.event == std::string("kill") ? server.Directory() : std::string("doomed")},
      &ok);
  ASSERT_TRUE(ok);
  const auto lost = std::chrono::steady_clock::now();
  EXPECT_TRUE(Eventually([&] { return capture->GetNextPacketSize(&next) == loss.result; }));
  RecordProperty("reported_after_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - lost)
                                      .count()));
  EXPECT_TRUE(samplesHeld()) << "the packet handed out before the loss changed";
  EXPECT_EQ(capture->ReleaseBuffer(frames), S_OK);
  EXPECT_EQ(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), loss.result);
  EXPECT_EQ(client->Stop(), loss.result);
  EXPECT_EQ(client->Start(), loss.result);
  ComPtr<IAudioClient> another = Activate(device.Get());
  ASSERT_TRUE(another);
  const WAVEFORMATEXTENSIBLE format = RequestedFormat(2);
  EXPECT_EQ(another->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, 0, 0,
                                &format.Format, nullptr),
            loss.result);

  ComPtr<IMMDeviceCollection> after;
  EXPECT_EQ(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, after.Receive()),
            loss.enumeration);
  ComPtr<IMMDevice> lookup;
  EXPECT_EQ(enumerator->GetDevice(L"doomed", lookup.Receive()), loss.lookup);
  // A new enumerator does not reuse a dead connection.
  ComPtr<IMMDeviceEnumerator> fresh;
  EXPECT_EQ(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                             __uuidof(IMMDeviceEnumerator), fresh.ReceiveVoid()),
            loss.enumeration);
}

INSTANTIATE_TEST_SUITE_P(
    Events, LossTest,
    ::testing::Values(LossCase{"SourceRemoved", "remove", AUDCLNT_E_DEVICE_INVALIDATED, S_OK,
                               kNotFound},
                      LossCase{"ServerKilled", "kill", AUDCLNT_E_SERVICE_NOT_RUNNING,
                               AUDCLNT_E_SERVICE_NOT_RUNNING, AUDCLNT_E_SERVICE_NOT_RUNNING}),
    [](const ::testing::TestParamInfo<LossCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace standin
