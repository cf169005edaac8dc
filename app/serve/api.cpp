#include "serve/api.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "atomic_file.h"
#include "file_bytes.h"
#include "flow/flow_file.h"
#include "flow/flow_run.h"
#include "frame_list.h"
#include "image_io.h"
#include "output_pattern.h"
#include "render.h"
#include "render_job.h"
#include "render_loop.h"
#include "serve/frame_png.h"
#include "serve/frame_preview.h"
#include "serve/token.h"
#include "signals.h"
#include "value_parse.h"

namespace vorn::serve {

using nlohmann::json;

namespace {

constexpr auto kFrameTimeout = std::chrono::seconds(30);
// A page's wait for the next change ends after this long with the state as it
// is; at most this many pages wait at once (each holds a thread of the token
// pool); more are told to poll.
constexpr auto kWaitTimeout = std::chrono::seconds(10);
constexpr int kMaxWaiting = 8;
constexpr uintmax_t kMaxWebFileBytes = 16u << 20;

HttpResponse JsonResponse(const json& body, int status = 200) {
  HttpResponse r;
  r.status = status;
  r.body = body.dump();
  return r;
}

HttpResponse Error(int status, const std::string& message) {
  return JsonResponse(json{{"error", message}}, status);
}

std::string ContentType(const std::string& name) {
  auto ends = [&](const char* ext) {
    const std::string e = ext;
    return name.size() >= e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0;
  };
  if (ends(".html")) return "text/html; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".js")) return "text/javascript; charset=utf-8";
  return "application/octet-stream";
}

// A file name the page may ask for: letters, digits, '-', '_' and one '.'.
bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  int dots = 0;
  for (char c : name) {
    if (c == '.') {
      ++dots;
      continue;
    }
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  }
  return dots == 1 && name.front() != '.';
}

// A frame number from the query or a body: a whole number.
std::optional<int> FrameNumber(const json& v) {
  if (!v.is_number()) return std::nullopt;
  const double d = v.get<double>();
  if (!std::isfinite(d) || d != std::trunc(d) || d < -1e7 || d > 1e7) return std::nullopt;
  return int(d);
}

std::optional<int> FrameNumber(const std::string& text) {
  std::string error;
  auto n = ParseCount(text, -10000000, 10000000, &error);
  if (!n) return std::nullopt;
  return int(*n);
}

std::string StringField(const json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

Api::Api(Host& host, FileRoots roots, ApiSettings settings)
    : host_(host), roots_(std::move(roots)), settings_(std::move(settings)) {}

Api::~Api() {
  closing_ = true;
  while (waiting_.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::lock_guard lock(sessionsMutex_);
  sessions_.clear();
  flow_.reset();
}

Session* Api::FlowSession() {
  std::lock_guard lock(sessionsMutex_);
  if (!flow_) flow_ = Session::CreateFlow(host_, settings_.session);
  return flow_.get();
}

Session* Api::SessionFor(const std::string& tool, std::string* error) {
  if (tool == kFlowSessionName) {
    std::lock_guard lock(sessionsMutex_);
    if (!flow_) *error = "no flow is open: load a flow file, or start a new flow";
    return flow_.get();
  }
  df::Registry* registry = host_.FindTool(tool, error);
  if (!registry) return nullptr;
  std::lock_guard lock(sessionsMutex_);
  auto it = sessions_.find(registry);
  if (it != sessions_.end()) return it->second.get();
  auto session = Session::Create(host_, registry, settings_.session, error);
  if (!session) return nullptr;
  Session* s = session.get();
  sessions_.emplace(registry, std::move(session));
  return s;
}

bool Api::Start(std::string* error) {
  host_.PrepareFrameMemory(settings_.session.width, settings_.session.height);
  if (!settings_.comp.empty() && flow::IsFlowFile(settings_.comp)) {
    flow::Flow loaded;
    if (!flow::LoadFlow(host_, settings_.comp, &loaded, error)) return false;
    const int first = loaded.shot.first;
    const Outcome outcome = FlowSession()->TakeFlow(std::move(loaded), "", first);
    if (!outcome.ok) {
      *error = outcome.error;
      return false;
    }
    if (settings_.initialTool.empty()) {
      settings_.initialTool = kFlowSessionName;
      return true;
    }
  } else if (!settings_.comp.empty()) {
    Composition comp;
    if (!LoadComposition(host_, settings_.comp, true, &comp, error)) return false;
    Session* s = SessionFor(comp.op->GetRegistry()->ClassName(), error);
    if (!s) return false;
    const Outcome outcome = s->TakeComposition(comp, "");
    if (!outcome.ok) {
      *error = outcome.error;
      return false;
    }
    for (const std::string& w : outcome.warnings) PrintWarning("--comp: " + w);
    if (settings_.initialTool.empty()) settings_.initialTool = comp.op->GetRegistry()->Name();
  }
  if (!settings_.initialTool.empty()) {
    Session* s = SessionFor(settings_.initialTool, error);
    if (!s) return false;
    settings_.initialTool = s->IsFlow() ? kFlowSessionName : s->Registry()->Name();
  }
  return true;
}

bool Api::Authorised(const HttpRequest& request, bool* fromQuery) const {
  *fromQuery = false;
  if (!request.tokenHeader.empty() && SameToken(request.tokenHeader, settings_.token)) return true;
  if (auto c = CookieValue(request.cookie, kTokenCookie); c && SameToken(*c, settings_.token))
    return true;
  // The URL printed at start carries the token; only the page itself takes
  // it from there, and hands it on as a cookie.
  const auto q = request.query.find("token");
  if (request.path == "/" && q != request.query.end() && SameToken(q->second, settings_.token)) {
    *fromQuery = true;
    return true;
  }
  return false;
}

HttpResponse Api::Handle(const HttpRequest& request) {
  bool fromQuery = false;
  if (!Authorised(request, &fromQuery))
    return Error(403,
                 "this vorn serve session needs the token of the URL it printed at start; open "
                 "that URL");
  try {
    if (request.path.rfind("/api/", 0) != 0) {
      if (request.method != "GET") return Error(405, "only GET is answered here");
      HttpResponse r = Static(request);
      if (fromQuery) r.headers.push_back({"Set-Cookie", TokenCookie(settings_.token)});
      return r;
    }
    if (request.method == "GET") {
      if (request.path == "/api/tools") return Tools();
      if (request.path == "/api/frame") return Frame(request);
      if (request.path == "/api/export/status") return ExportStatus();
      const auto tool = request.query.find("tool");
      if (tool == request.query.end()) return Error(400, "name the tool: ?tool=NAME");
      std::string error;
      Session* s = SessionFor(tool->second, &error);
      if (!s) return Error(404, error);
      if (request.path == "/api/describe") {
        HttpResponse r;
        r.body = s->Description();
        return r;
      }
      if (request.path == "/api/state") {
        const auto t = request.query.find("time");
        const auto time = t == request.query.end() ? std::optional<int>(s->Settings().firstFrame)
                                                   : FrameNumber(t->second);
        if (!time) return Error(400, "time: a whole frame number");
        return JsonResponse(s->State(*time));
      }
      if (request.path == "/api/inputs" || request.path == "/api/input")
        return InputImage(*s, request);
      if (request.path == "/api/simulation") return JsonResponse(s->Simulation());
      if (request.path == "/api/graph") {
        if (!s->IsFlow()) return Error(400, "\"" + tool->second + "\" is a tool, not a flow");
        return JsonResponse(s->Graph());
      }
      if (request.path == "/api/wait") return Wait(*s, request);
      return Error(404, "no such request: GET " + request.path);
    }
    if (request.method == "POST") return Post(request);
    return Error(405, "only GET and POST are answered");
  } catch (const std::exception& e) {
    // The JSON library's type errors and allocation failures: the request
    // fails, the server goes on.
    return Error(400, std::string("the request could not be handled: ") + e.what());
  }
}

HttpResponse Api::Static(const HttpRequest& request) {
  std::string relative;
  if (request.path == "/" || request.path == "/index.html")
    relative = "index.html";
  else if (request.path == "/style.css")
    relative = "style.css";
  else if (request.path.rfind("/dist/", 0) == 0 && PlainName(request.path.substr(6)))
    relative = "dist/" + request.path.substr(6);
  else
    return Error(404, "no such page: " + request.path);
  std::vector<uint8_t> bytes;
  std::string error;
  const std::string path = settings_.webDir + "/" + relative;
  if (!ReadFileBytes(path, kMaxWebFileBytes, &bytes, &error))
    return Error(404, relative + " is missing (build the page: see the README): " + error);
  HttpResponse r;
  r.contentType = ContentType(relative);
  r.body.assign(bytes.begin(), bytes.end());
  r.headers.push_back({"Cache-Control", "no-store"});
  return r;
}

HttpResponse Api::Tools() {
  json tools = json::array();
  for (df::Registry* r : host_.Tools())
    tools.push_back({{"name", r->Name()}, {"class", r->ClassName()}});
  json roots = json::array();
  for (const std::string& f : roots_.Folders()) roots.push_back(f);
  json classes = {flow::kReadClass, flow::kMergeClass, flow::kWriteClass};
  for (df::Registry* r : host_.Tools()) classes.push_back(r->Name());
  bool flowOpen;
  {
    std::lock_guard lock(sessionsMutex_);
    flowOpen = flow_ != nullptr;
  }
  return JsonResponse({{"tools", tools},
                       {"flow", flowOpen},
                       {"classes", classes},
                       {"initial", settings_.initialTool},
                       {"roots", roots},
                       {"firstFrame", settings_.session.firstFrame},
                       {"lastFrame", settings_.session.lastFrame}});
}

HttpResponse Api::Frame(const HttpRequest& request) {
  const auto tool = request.query.find("tool");
  const auto time = request.query.find("time");
  if (tool == request.query.end() || time == request.query.end())
    return Error(400, "a frame is asked for with ?tool=NAME&time=FRAME");
  std::string error;
  Session* s = SessionFor(tool->second, &error);
  if (!s) return Error(404, error);
  const auto t = FrameNumber(time->second);
  if (!t || *t < s->FirstFrame() || *t > s->LastFrame())
    return Error(400, "time: a frame from " + std::to_string(s->FirstFrame()) + " to " +
                          std::to_string(s->LastFrame()));
  uint64_t minVersion = 0;
  if (const auto v = request.query.find("version"); v != request.query.end()) {
    auto n = ParseCount(v->second, 0, (1LL << 62), &error);
    if (!n) return Error(400, "version: " + error);
    minVersion = uint64_t(*n);
  }
  // Raw RGBA rows by default; the page asks for PNG, which the browser
  // takes in and decodes far faster than the raw bytes.
  bool png = false;
  if (const auto f = request.query.find("format"); f != request.query.end()) {
    if (f->second == "png")
      png = true;
    else if (f->second != "raw")
      return Error(400, "format: \"raw\" (RGBA rows, the default) or \"png\"");
  }
  // A reduced frame (?scale=N, each pixel an N x N block of the frame's):
  // the page asks for one while a control is dragged.
  int factor = 1;
  if (const auto q = request.query.find("scale"); q != request.query.end()) {
    const auto n = ParseCount(q->second, 1, kMaxPreviewFactor, &error);
    if (!n) return Error(400, "scale: " + error);
    factor = int(*n);
  }
  // A band of rows (?top=Y&rows=N, rows of the reduced frame when scaled;
  // the headers still describe the whole frame): the page asks for a frame
  // in bands at once, so that they are encoded and decoded side by side.
  std::optional<long long> top, rows;
  for (auto [key, value] : {std::pair{"top", &top}, {"rows", &rows}})
    if (const auto q = request.query.find(key); q != request.query.end()) {
      *value = ParseCount(q->second, key == std::string("top") ? 0 : 1, kMaxImageSide, &error);
      if (!*value) return Error(400, std::string(key) + ": " + error);
    }
  auto frame = s->WaitFrame(*t, minVersion, kFrameTimeout);
  if (!frame) return Error(503, "the frame was not ready in time; the tool is still rendering");
  if (!frame->error.empty()) return Error(422, frame->error);
  const int height = ReducedSize(frame->height, factor);
  const int width = ReducedSize(frame->width, factor);
  const int first = int(top.value_or(0));
  const int count = int(rows.value_or(height - first));
  if (first >= height || count < 1 || count > height - first)
    return Error(400, "top, rows: a band within the " + std::string(factor > 1 ? "reduced " : "") +
                          "frame's " + std::to_string(height) + " rows");
  const size_t stride = size_t(width) * 4;
  std::vector<uint8_t> reduced;
  const uint8_t* band = frame->rgba->data() + size_t(first) * stride;
  if (factor > 1) {
    reduced =
        ReduceRgbaRows(frame->rgba->data(), frame->width, frame->height, factor, first, count);
    band = reduced.data();
  }
  HttpResponse r;
  if (png) {
    r.contentType = "image/png";
    if (!EncodePngRgba(band, width, count, &r.body))
      return Error(500, "the frame could not be encoded as PNG (out of memory?)");
  } else {
    r.contentType = "application/octet-stream";
    r.body.assign(reinterpret_cast<const char*>(band), stride * size_t(count));
  }
  r.headers = {{"X-Width", std::to_string(frame->width)},
               {"X-Height", std::to_string(frame->height)},
               {"X-Time", std::to_string(frame->time)},
               {"X-Version", std::to_string(frame->version)},
               {"X-Render-Ms", FormatNumber(std::round(frame->renderMs * 100) / 100)},
               {"X-Scale", std::to_string(factor)},
               {"Cache-Control", "no-store"}};
  if (!frame->nodeRenders.empty()) {
    nlohmann::json renders = nlohmann::json::object();
    for (const auto& [node, count] : frame->nodeRenders) renders[node] = count;
    // ASCII only, so any node name can travel in a header.
    r.headers.emplace_back("X-Node-Renders",
                           renders.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace));
  }
  return r;
}

// Answers once the tool's values have a version past `version` (a change
// made from any page), or after kWaitTimeout, with the state at `time`: how
// every page hears of the others' changes.
HttpResponse Api::Wait(Session& session, const HttpRequest& request) {
  const auto v = request.query.find("version");
  uint64_t seen = 0;
  if (v == request.query.end() ||
      std::from_chars(v->second.data(), v->second.data() + v->second.size(), seen).ec !=
          std::errc())
    return Error(400, "version: the version of the values the page shows");
  const auto t = request.query.find("time");
  const auto time = t == request.query.end() ? std::optional<int>(session.Settings().firstFrame)
                                             : FrameNumber(t->second);
  if (!time) return Error(400, "time: a whole frame number");
  if (waiting_.fetch_add(1) >= kMaxWaiting) {
    --waiting_;
    return Error(503, "too many pages are waiting for changes; ask GET /api/state now and then");
  }
  struct Leave {
    std::atomic<int>& count;
    ~Leave() { --count; }
  } leave{waiting_};
  const auto until = std::chrono::steady_clock::now() + kWaitTimeout;
  while (session.Version() <= seen && !closing_.load() && InterruptSignal() == 0 &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return JsonResponse(session.State(*time));
}

HttpResponse Api::Post(const HttpRequest& request) {
  const json body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object())
    return Error(400, "the request body is not a JSON object");
  // Ends the export in progress before its next frame; harmless when none is.
  if (request.path == "/api/export/cancel") {
    std::lock_guard lock(exportMutex_);
    const bool running = exporting_.load();
    if (running) exportCancel_ = 1;
    return JsonResponse({{"cancelling", running}});
  }
  // Every request names the frame it acts at (the viewer's time).
  std::optional<int> time;
  if (auto t = body.find("time"); t != body.end()) time = FrameNumber(*t);
  if (!time) return Error(400, "time: a whole frame number is needed");
  if (request.path == "/api/load") return Load(body, *time);
  if (request.path == "/api/flow/new") {
    // A new, empty flow; where one is open, emptying it is one undo step.
    bool had;
    {
      std::lock_guard lock(sessionsMutex_);
      had = flow_ != nullptr;
    }
    Session* s = FlowSession();
    flow::Flow empty;
    empty.shot = {settings_.session.firstFrame, settings_.session.lastFrame,
                  settings_.session.firstFrame};
    empty.size = std::pair{settings_.session.width, settings_.session.height};
    const Outcome outcome = s->TakeFlow(std::move(empty), had ? "New flow" : "", *time);
    if (!outcome.ok) return Error(400, outcome.error);
    return JsonResponse(outcome.state);
  }

  const std::string tool = StringField(body, "tool");
  if (tool.empty()) return Error(400, "name the tool: \"tool\"");
  std::string error;
  Session* s = SessionFor(tool, &error);
  if (!s) return Error(404, error);
  if (*time < s->FirstFrame() || *time > s->LastFrame())
    return Error(400, "time: a frame from " + std::to_string(s->FirstFrame()) + " to " +
                          std::to_string(s->LastFrame()));
  const std::string id = StringField(body, "id");
  // A page that acts on values another page has changed since it last heard
  // (its "base" version is not the server's) is told so, with the values as
  // they are now, and acts again on those: its undo is the one it shows.
  const bool changesValues =
      request.path == "/api/change" || request.path == "/api/reset" ||
      request.path == "/api/undo" || request.path == "/api/redo" || request.path == "/api/key" ||
      (request.path.rfind("/api/node/", 0) == 0 && request.path != "/api/node/select" &&
       request.path != "/api/node/view") ||
      request.path == "/api/flow/shot";
  if (auto base = body.find("base"); changesValues && base != body.end()) {
    if (!base->is_number_unsigned()) return Error(400, "base: the version of the values seen");
    if (base->get<uint64_t>() != s->Version())
      return JsonResponse({{"error",
                            "the values were changed in another page; this page now "
                            "shows them: do it again on those"},
                           {"state", s->State(*time)}},
                          409);
  }
  Outcome outcome;
  if (request.path == "/api/change") {
    const auto value = body.find("value");
    if (value == body.end()) return Error(400, "no \"value\" given");
    outcome = s->Change(id, *value, *time, StringField(body, "gesture"));
  } else if (request.path == "/api/reset") {
    outcome = s->Reset(*time);
  } else if (request.path == "/api/undo") {
    outcome = s->Undo(*time);
  } else if (request.path == "/api/redo") {
    outcome = s->Redo(*time);
  } else if (request.path == "/api/key") {
    const std::string action = StringField(body, "action");
    if (action == "set")
      outcome = s->SetKey(id, *time);
    else if (action == "remove")
      outcome = s->RemoveKey(id, *time);
    else if (action == "clear")
      outcome = s->ClearAnimation(id, *time);
    else
      return Error(400, "\"action\": \"set\", \"remove\" (the key at this frame) or \"clear\"");
  } else if (request.path.rfind("/api/node/", 0) == 0) {
    return NodeRequest(*s, request.path, body, *time);
  } else if (request.path == "/api/flow/shot") {
    if (!s->IsFlow()) return Error(400, "the shot is the flow's: name the tool \"flow\"");
    flow::Shot shot;
    for (auto [key, to] : {std::pair{"first", &shot.first}, std::pair{"last", &shot.last},
                           std::pair{"simulationStart", &shot.simulationStart}}) {
      const auto it = body.find(key);
      const std::optional<int> frame = it == body.end() ? std::nullopt : FrameNumber(*it);
      if (!frame)
        return Error(400, std::string("shot: \"") + key +
                              "\": a whole frame number from -10000000 to 10000000");
      *to = *frame;
    }
    outcome = s->ChangeShot(shot, *time);
  } else if (request.path == "/api/save") {
    return Save(*s, body);
  } else if (request.path == "/api/export") {
    return s->IsFlow() ? ExportFlow(*s, body) : Export(*s, body);
  } else {
    return Error(404, "no such request: POST " + request.path);
  }
  if (!outcome.ok) return Error(400, outcome.error);
  json state = outcome.state.is_null() ? s->State(*time) : std::move(outcome.state);
  state["warnings"] = outcome.warnings;
  return JsonResponse(state);
}

namespace {

bool RootAndPath(const json& body, size_t* root, std::string* path, std::string* error) {
  const auto r = body.find("root");
  if (r == body.end() || !r->is_number_unsigned()) {
    *error = "\"root\": the number of a folder";
    return false;
  }
  *root = r->get<size_t>();
  *path = StringField(body, "path");
  return true;
}

}  // namespace

HttpResponse Api::Load(const json& body, int time) {
  size_t root;
  std::string relative, path, error;
  if (!RootAndPath(body, &root, &relative, &error)) return Error(400, error);
  if (!roots_.Resolve(root, relative, FileRoots::Use::Read, &path, &error))
    return Error(400, "cannot load: " + error);
  const std::string caption = "Load " + std::filesystem::path(relative).filename().string();
  if (flow::IsFlowFile(path)) {
    // A flow file (recognised by its content) opens in the flow session.
    flow::Flow loaded;
    {
      std::lock_guard lock(filesMutex_);
      if (!flow::LoadFlow(host_, path, &loaded, &error)) return Error(422, error);
    }
    Session* s = FlowSession();
    const Outcome outcome = s->TakeFlow(std::move(loaded), caption, time);
    if (!outcome.ok) return Error(422, outcome.error);
    json state = outcome.state;
    state["warnings"] = json::array();
    return JsonResponse(state);
  }
  Composition comp;
  {
    std::lock_guard lock(filesMutex_);
    if (!LoadComposition(host_, path, true, &comp, &error)) return Error(422, error);
  }
  Session* s = SessionFor(comp.op->GetRegistry()->ClassName(), &error);
  if (!s) return Error(422, error);
  const Outcome outcome = s->TakeComposition(comp, caption);
  if (!outcome.ok) return Error(422, outcome.error);
  json state = s->State(time);
  state["warnings"] = outcome.warnings;
  return JsonResponse(state);
}

HttpResponse Api::Save(Session& session, const json& body) {
  size_t root;
  std::string relative, path, error;
  if (!RootAndPath(body, &root, &relative, &error)) return Error(400, error);
  if (!roots_.Resolve(root, relative, FileRoots::Use::Write, &path, &error))
    return Error(400, "cannot save: " + error);
  std::vector<uint8_t> bytes;
  uint64_t version = 0;
  if (session.IsFlow()) {
    std::string text;
    if (!session.FlowTextNow(&text, nullptr, &error, &version))
      return Error(422, "cannot save: " + error);
    bytes.assign(text.begin(), text.end());
  } else if (!session.SaveRecord(&bytes, &error, &version)) {
    return Error(422, "cannot save: " + error);
  }
  std::lock_guard lock(filesMutex_);
  if (!WriteFileAtomically(path, bytes.data(), bytes.size(), &error))
    return Error(422, "cannot save: " + error);
  session.MarkSaved(version);
  return JsonResponse({{"saved", path}});
}

// The files an export request names: its frames within `first`-`last`
// (`range` names them in the message), a file pattern of a format vorn
// writes, in a folder of the server's, every frame's file checked. The
// refusal, when there is one.
std::optional<HttpResponse> Api::CheckExport(const json& body, int first, int last,
                                             const char* range, ExportTarget* t) {
  size_t root;
  std::string relative, error;
  if (!RootAndPath(body, &root, &relative, &error)) return Error(400, error);
  t->frames = StringField(body, "frames");
  if (!ParseFrameList(t->frames, &t->list, &error)) return Error(400, "frames: " + error);
  if (t->list.front() < first || t->list.back() > last)
    return Error(400, "frames: from " + std::to_string(first) + " to " + std::to_string(last) +
                          " (" + range + ")");
  auto pattern = FramePattern::Parse(relative, &error);
  if (!pattern) return Error(400, "file name: " + error);
  t->format = OutputFormatFor(relative);
  if (!t->format) return Error(400, "file name: end it in " + std::string(OutputFormatsText()));
  if (t->list.size() > 1 && !pattern->HasFrame())
    return Error(400, "file name: put # where the frame number goes (render.#.png) to export " +
                          std::to_string(t->list.size()) + " frames");
  if (pattern->FrameInFolder()) return Error(400, "file name: " + std::string(kFrameInFolderText));
  // Every file the frames name, checked in the root the request names;
  // each is checked again just before it is written.
  if (!roots_.OutputPath(root, relative, &t->path, &t->rootFolder, &error))
    return Error(400, "cannot export: " + error);
  if (t->rootFolder.find_first_of("#@%") != std::string::npos)
    return Error(400, "cannot export into " + t->rootFolder +
                          ": its name holds #, @ or %, which a file name pattern reads as a "
                          "frame number; choose another folder");
  t->absolute = FramePattern::Parse(t->path, &error);
  if (!t->absolute) return Error(400, "file name: " + error);
  std::set<std::string> folders;
  for (int f : t->list)
    if (!CheckOutputPath(t->absolute->Format(f), t->rootFolder, &error, &folders))
      return Error(400, "cannot export: " + error);
  return std::nullopt;
}

// Exports through the frame loop of `vorn render`, on a fresh operator that
// holds the session's values and the session's pictures, so the files are
// exactly those `vorn render --comp` writes with a composition of them.
HttpResponse Api::Export(Session& session, const json& body) {
  const SessionSettings& ss = session.Settings();
  ExportTarget target;
  if (auto refused = CheckExport(body, ss.firstFrame, ss.lastFrame, "the timeline", &target))
    return *refused;
  const std::vector<int>& list = target.list;
  const std::string& rootFolder = target.rootFolder;
  const auto& absolute = target.absolute;
  const auto& format = target.format;
  std::string error;
  if (!ClaimExport(session.Registry()->Name(), int(list.size())))
    return Error(409, "an export is running: wait for it to finish or cancel it");
  struct Finished {
    Api& api;
    ~Finished() { api.ReleaseExport(); }
  } finished{*this};
  // A stepped tool simulates from the timeline's first frame, as the viewer does.
  FrameRun run;
  run.frames = list;
  if (!PlanSteps(session.Stepped(), ss.firstFrame, session.Registry()->Name(), list, &run.steps,
                 &error))
    return Error(422, "cannot export: " + error);
  const FrameDriver& driver = session.Driver();
  std::lock_guard lock(filesMutex_);
  if (!driver.CheckSequences(run.steps, &error) ||
      !CheckOverwrites(driver, run.steps, &*absolute, list, "", &error) ||
      !MakeOutputFolders(absolute->Format(list.front()), rootFolder, &error))
    return Error(422, "cannot export: " + error);
  df::CPipelineDoc doc;
  df::OperatorPtr op = session.CopyOperator(doc, &error);
  if (!op) return Error(422, "cannot export: " + error);
  run.op = op.get();
  run.driver = &driver;
  run.pattern = &*absolute;
  run.format = *format;
  run.write.metadata = driver.OutputMetadata(*op, run.steps.front());
  run.writers = std::clamp(df::AvailableProcessors(), 1, 16);
  run.root = rootFolder;
  run.quiet = true;
  run.filesDone = &exportDone_;
  run.cancel = &exportCancel_;
  const FrameRunResult result = RunFrames(run);
  op.reset();  // before its document
  if (result.exitCode != kExitOk)
    return Error(422, "the export failed (the server's messages say why); " +
                          std::to_string(result.written.size()) + " files written");
  // Cancelled before the last frame: the files written are whole frames.
  const bool cancelled = exportCancel_ != 0 && result.written.size() < list.size();
  return JsonResponse({{"written", result.written}, {"cancelled", cancelled}});
}

// Graph edits of the flow session: POST /api/node/add {class, name?},
// delete {node}, connect {from, to, input}, disconnect {to, input}, rename
// {node, name}, settings {node, settings}, select {node}, view {node}.
HttpResponse Api::NodeRequest(Session& s, const std::string& path, const json& body, int time) {
  if (!s.IsFlow()) return Error(400, "graph edits need the flow: name the tool \"flow\"");
  const std::string node = StringField(body, "node");
  Outcome outcome;
  if (path == "/api/node/add") {
    const std::string cls = StringField(body, "class");
    if (cls.empty()) return Error(400, "\"class\": Read, Merge, Write or a tool's name");
    outcome = s.AddNode(cls, StringField(body, "name"), time);
  } else if (path == "/api/node/delete") {
    outcome = s.DeleteNode(node, time);
  } else if (path == "/api/node/connect") {
    outcome = s.ConnectNodes(StringField(body, "from"), StringField(body, "to"),
                             StringField(body, "input"), time);
  } else if (path == "/api/node/disconnect") {
    outcome = s.DisconnectInput(StringField(body, "to"), StringField(body, "input"), time);
  } else if (path == "/api/node/rename") {
    outcome = s.RenameNode(node, StringField(body, "name"), time);
  } else if (path == "/api/node/settings") {
    const auto settings = body.find("settings");
    if (settings == body.end()) return Error(400, "no \"settings\" given");
    // A node's file (a Read's picture, a Write's output) lies in the folders
    // the server may use, as every file the page names does. A relative
    // path is taken from the working folder, as `vorn render` takes it.
    if (const auto file = settings->find("file");
        file != settings->end() && file->is_string() && !file->get<std::string>().empty()) {
      std::error_code ec;
      const auto where = std::filesystem::absolute(file->get<std::string>(), ec).lexically_normal();
      const auto folder = std::filesystem::weakly_canonical(where.parent_path(), ec);
      if (ec || !roots_.Contains(folder.string()))
        return Error(400, "\"" + node + "\": the file \"" + file->get<std::string>() +
                              "\" is outside the folders this server may use (the working "
                              "folder, the folders of the files named at start, and --root)");
    }
    outcome = s.ChangeNodeSettings(node, *settings, time);
  } else if (path == "/api/node/select") {
    outcome = s.SelectNode(node, time);
  } else if (path == "/api/node/view") {
    outcome = s.ViewNode(node, time);
  } else {
    return Error(404, "no such request: POST " + path);
  }
  if (!outcome.ok) return Error(400, outcome.error);
  json state = std::move(outcome.state);
  state["warnings"] = outcome.warnings;
  return JsonResponse(state);
}

// A flow exports the node the viewer shows through `vorn render --comp` of
// the flow as it stands (saved to a temporary file), so the files are those
// a saved flow renders to with --node and --out.
HttpResponse Api::ExportFlow(Session& session, const json& body) {
  ExportTarget target;
  if (auto refused =
          CheckExport(body, session.FirstFrame(), session.LastFrame(), "the flow's shot", &target))
    return *refused;
  const std::vector<int>& list = target.list;
  std::string error;
  std::string text, viewed;
  if (!session.FlowTextNow(&text, &viewed, &error)) return Error(422, "cannot export: " + error);
  if (viewed.empty()) return Error(422, "cannot export: the flow has no nodes");
  if (!ClaimExport(kFlowSessionName, int(list.size())))
    return Error(409, "an export is running: wait for it to finish or cancel it");
  struct Finished {
    Api& api;
    std::string file;
    ~Finished() {
      std::error_code ec;
      if (!file.empty()) std::filesystem::remove(file, ec);
      api.ReleaseExport();
    }
  } finished{*this, ""};
  static std::atomic<int> serial{0};
  std::error_code ec;
  finished.file = (std::filesystem::temp_directory_path(ec) /
                   ("vorn-serve-export-" + std::to_string(::getpid()) + "-" +
                    std::to_string(++serial) + flow::kFlowExtension))
                      .string();
  if (!WriteFileAtomically(finished.file, text.data(), text.size(), &error))
    return Error(422, "cannot export: the flow could not be written for the render: " + error);
  RenderSettings rs;
  rs.actions.push_back({RenderAction::Kind::Comp, finished.file});
  rs.frames = target.frames;
  rs.out = target.path;
  rs.node = viewed;
  rs.root = target.rootFolder;
  rs.quiet = true;
  rs.filesDone = &exportDone_;
  rs.cancel = &exportCancel_;
  RenderOutcome result;
  {
    std::lock_guard lock(filesMutex_);
    result = RunRender(host_, rs);
  }
  if (result.exitCode != kExitOk)
    return Error(422, "the export failed (the server's messages say why); " +
                          std::to_string(result.written.size()) + " files written");
  const bool cancelled = exportCancel_ != 0 && result.written.size() < list.size();
  return JsonResponse({{"written", result.written}, {"cancelled", cancelled}});
}

// GET /api/export/status: whether an export runs, of which tool, and the
// files it wrote of the frames asked for.
HttpResponse Api::ExportStatus() {
  json status;
  {
    std::lock_guard lock(exportMutex_);
    status = {{"running", exporting_.load()},
              {"tool", exportTool_},
              {"done", exportDone_.load()},
              {"total", exportTotal_.load()},
              {"cancelling", exportCancel_.load() != 0}};
  }
  return JsonResponse(status);
}

bool Api::ClaimExport(const std::string& tool, int total) {
  std::lock_guard lock(exportMutex_);
  if (exporting_) return false;
  exporting_ = true;
  exportDone_ = 0;
  exportTotal_ = total;
  exportCancel_ = 0;
  exportTool_ = tool;
  return true;
}

void Api::ReleaseExport() {
  std::lock_guard lock(exportMutex_);
  exporting_ = false;
}

// The pictures of the tool's image inputs, for the viewer to show a frame
// over: a file bound with --input, or the built-in image a required input
// without one gets. GET /api/inputs lists their captions; GET
// /api/input?name=CAPTION (&time=FRAME for a sequence) gives one as raw RGBA
// rows, colour as the picture holds it (premultiplied), with X-Width and
// X-Height.
HttpResponse Api::InputImage(Session& session, const HttpRequest& request) {
  if (session.IsFlow())
    return Error(404, "a flow's pictures are its Read nodes; view one to see its picture");
  const std::vector<InputBinding>& pictures = session.Driver().Bindings();
  if (request.path == "/api/inputs") {
    json names = json::array(), sequences = json::array();
    for (const InputBinding& p : pictures) {
      names.push_back(p.caption);
      if (p.sequence) sequences.push_back(p.caption);
    }
    return JsonResponse({{"inputs", names}, {"sequences", sequences}});
  }
  const auto name = request.query.find("name");
  if (name == request.query.end()) return Error(400, "name the image input: ?name=CAPTION");
  const auto it = std::find_if(pictures.begin(), pictures.end(),
                               [&](const InputBinding& p) { return p.caption == name->second; });
  if (it == pictures.end())
    return Error(404, session.Registry()->Name() + " has no picture for an image input \"" +
                          name->second + "\" (bind a file with --input CAPTION=FILE)");
  int time = session.Settings().firstFrame;
  if (const auto t = request.query.find("time"); t != request.query.end()) {
    const auto n = FrameNumber(t->second);
    if (!n) return Error(400, "time: a whole frame number");
    time = *n;
  }
  std::string error;
  ImageRef read;
  const df::Image* image = it->still.get();
  if (it->sequence) {
    std::lock_guard lock(filesMutex_);
    read = ReadImage(it->sequence->Format(time), &error, it->read);
    if (!read) return Error(422, "\"" + it->caption + "\": " + error);
    image = read.get();
  }
  HttpResponse r;
  r.contentType = "application/octet-stream";
  r.body.resize(image->ByteCount());
  char* d = r.body.data();
  for (int y = 0; y < image->height; ++y) {
    const uint8_t* s = image->rows[y];
    for (int x = 0; x < image->width; ++x, s += 4, d += 4) {
      d[0] = char(s[2]);
      d[1] = char(s[1]);
      d[2] = char(s[0]);
      d[3] = char(s[3]);
    }
  }
  r.headers = {{"X-Width", std::to_string(image->width)},
               {"X-Height", std::to_string(image->height)},
               {"Cache-Control", "no-store"}};
  return r;
}

}  // namespace vorn::serve
