// vorn render as one task of a farm job: the worker count a task gets, parts
// of the frame list, frames taken from an input sequence on disk, resuming
// with --skip-existing, and listing or checking the outputs.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>

#include "host.h"
#include "vorn_runner.h"

namespace vorn::test {
namespace {

using Farm = VornTest;

const std::vector<std::pair<std::string, std::string>> kSequenceProbe = {
    {"PROBE_KIND", "sequence"}};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

std::vector<std::string> Names(const char* prefix, int first, int last) {
  std::vector<std::string> names;
  for (int f = first; f <= last; ++f) {
    char name[64];
    std::snprintf(name, sizeof name, "%s.%04d.png", prefix, f);
    names.push_back(name);
  }
  return names;
}

TEST_F(Farm, WorkersComeFromTheOptionThenTheVariableThenTheTasksCpus) {
  const std::vector<std::string> render = {"render", "Probe", "--size", "1x8", "--out"};
  auto run = [&](const std::string& out, std::vector<std::string> extra,
                 const std::vector<std::pair<std::string, std::string>>& env,
                 const std::function<void()>& inChild = nullptr) {
    std::vector<std::string> args = {"--plugins", PROBE_PLUGIN_FOLDER};
    args.insert(args.end(), render.begin(), render.end());
    args.push_back(out);
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("--stats");
    RunResult r = Wait(Start(args, env, inChild));
    EXPECT_EQ(r.code, 0) << r.err;
    // Every case runs on the one CPU the task may use.
    EXPECT_NE(r.out.find("  threads 1  "), std::string::npos) << r.out;
    // The probe in its "Chunks" mode fills each band of rows with its chunk
    // number, so the last of 8 rows tells the chunk count (up to 8).
    ImageRef image = Image(out);
    return image ? image->rows[7][0] + 1 : -1;
  };
  const std::pair<std::string, std::string> slurmOne = {"SLURM_CPUS_PER_TASK", "1"};
  // Without the option or the variable, several chunks per thread.
  static_assert(kChunksPerThread <= 8);
  EXPECT_EQ(run("slurm.png", {}, {slurmOne}), kChunksPerThread);
  EXPECT_EQ(run("variable.png", {}, {slurmOne, {"NUM_PROC_VORN", "4"}}), 4);
  EXPECT_EQ(run("option.png", {"--workers", "8"}, {slurmOne, {"NUM_PROC_VORN", "4"}}), 8);
  // A task bound to one CPU of the machine runs one thread.
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  int first = 0;
  while (!CPU_ISSET(first, &set)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  EXPECT_EQ(run("bound.png", {}, {}, [&] { sched_setaffinity(0, sizeof one, &one); }),
            kChunksPerThread);
  EXPECT_EQ(run("bound4.png", {}, {{"NUM_PROC_VORN", "4"}},
                [&] { sched_setaffinity(0, sizeof one, &one); }),
            4);
}

TEST_F(Farm, ChunksSplitTheListAndTogetherGiveTheWholeRun) {
  const std::vector<std::string> common = {"render", "Probe", "--size", "4x2", "--frames", "1-10"};
  auto chunk = [&](const std::string& k, const std::string& out, bool list) {
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--chunk", k, "--out", out});
    if (list) args.push_back("--list-outputs");
    RunResult r = Probe(args, kSequenceProbe);
    EXPECT_EQ(r.code, 0) << k << ": " << r.err;
    return r;
  };
  EXPECT_EQ(Lines(chunk("1/3", "c.#.png", true).out), Names("c", 1, 4));
  EXPECT_EQ(Lines(chunk("2/3", "c.#.png", true).out), Names("c", 5, 7));
  EXPECT_EQ(Lines(chunk("3/3", "c.#.png", true).out), Names("c", 8, 10));
  EXPECT_TRUE(Files().empty());

  // The probe's sequence kind counts its steps into its pixels: a chunk that
  // starts the shot at the list's first frame gives the whole run's bytes.
  RunResult r = Probe({"render", "Probe", "--size", "4x2", "--frames", "1-10", "--out", "w.#.png"},
                      kSequenceProbe);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* k : {"3/3", "1/3", "2/3"}) {
    r = chunk(k, "c.#.png", false);
    if (std::string(k) == "2/3") {
      EXPECT_NE(r.err.find("chunk 2/3: frames 5 to 7 (3 of 10)"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("simulating frames 1 to 7, writing 3"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("(2 of 3, 66%,"), std::string::npos) << r.err;
    }
  }
  const auto whole = Names("w", 1, 10), parts = Names("c", 1, 10);
  for (size_t i = 0; i < whole.size(); ++i)
    EXPECT_EQ(ReadText(Path(parts[i])), ReadText(Path(whole[i]))) << parts[i];

  // More parts than frames: the extra tasks have nothing to do, and say so.
  r = Probe({"render", "Probe", "--size", "4x2", "--frames", "1-2", "--chunk", "3/4", "--out",
             "e.#.png"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("chunk 3/4: no frames (0 of 2)"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("e.0001.png")));
}

TEST_F(Farm, SkipExistingRendersOnlyWhatIsMissingAndKeepsTheShot) {
  const std::vector<std::string> render = {"render",   "Probe", "--size", "4x2",
                                           "--frames", "0-5",   "--out",  "s.#.png"};
  RunResult r = Probe(render, kSequenceProbe);
  ASSERT_EQ(r.code, 0) << r.err;
  const auto names = Names("s", 0, 5);
  std::vector<std::string> before;
  for (const std::string& n : names) before.push_back(ReadText(Path(n)));
  // A requeued task finds frames 0 and 3 written, 2 and 4 missing, 5 left
  // empty by a crash, 1 garbage and 3 cut short: only whole files count.
  fs::remove(Path(names[2]));
  fs::remove(Path(names[4]));
  std::ofstream(Path(names[5]), std::ios::trunc).close();
  std::ofstream(Path(names[1]), std::ios::binary | std::ios::trunc) << "garbage";
  fs::resize_file(Path(names[3]), fs::file_size(Path(names[3])) - 20);  // into the pixels
  std::vector<std::string> again = render;
  again.push_back("--skip-existing");
  r = Probe(again, kSequenceProbe);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("1 of 6 frames are written already (--skip-existing); rendering 5"),
            std::string::npos)
      << r.err;
  for (int f = 0; f < 6; ++f) EXPECT_EQ(ReadText(Path(names[size_t(f)])), before[size_t(f)]) << f;

  // Stepping ends at the last missing frame; nothing missing, nothing done.
  fs::remove(Path(names[2]));
  r = Probe(again, kSequenceProbe);
  EXPECT_NE(r.err.find("simulating frames 0 to 2, writing 1"), std::string::npos) << r.err;
  r = Probe(again, kSequenceProbe);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("nothing to render"), std::string::npos) << r.err;
}

// A task with nothing left to render (every frame written, or an empty
// chunk) still checks the whole request and writes the composition.
TEST_F(Farm, NothingToRenderStillChecksTheWholeRequest) {
  const std::vector<std::string> render = {"render",   "Probe", "--size", "4x2",
                                           "--frames", "0-1",   "--out",  "n.#.png"};
  ASSERT_EQ(Probe(render).code, 0);
  for (const std::vector<std::string>& idle :
       {std::vector<std::string>{"--skip-existing"}, {"--chunk", "3/3"}}) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--set", "Nope=1"}, "no control \"Nope\""},
        {{"--set", "Level=abc"}, "is not a decimal number"},
        {{"--input", "Input=missing.png"}, "missing.png"},
        {{"--input", "Input=seq.#.png"}, "frame 0: cannot read image seq.0000.png"},
        {{"--preset", "Blinding"}, "items:"},
    };
    for (const auto& [extra, message] : refused) {
      std::vector<std::string> args = render;
      args.insert(args.end(), idle.begin(), idle.end());
      args.insert(args.end(), extra.begin(), extra.end());
      RunResult r = Probe(args);
      EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args) << r.err;
      EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
    std::vector<std::string> save = render;
    save.insert(save.end(), idle.begin(), idle.end());
    save.insert(save.end(), {"--set", "Level=0.5", "--save", "idle.vcomp"});
    RunResult r = Probe(save);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("nothing to render"), std::string::npos) << r.err;
    EXPECT_GT(fs::file_size(Path("idle.vcomp")), 8u) << ::testing::PrintToString(idle);
    fs::remove(Path("idle.vcomp"));
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"n.0000.png", "n.0001.png"}));
}

TEST_F(Farm, FramesDefaultToTheInputSequenceOnDisk) {
  RunResult r = Probe({"render", "Probe", "--size", "6x4", "--set", "Mode=Fill", "--frames",
                       "3-5,8", "--out", "in.#.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Probe({"render", "Probe", "--input", "Input=in.#.png", "--set", "Mode=Copy", "--out",
             "out.#.png", "--list-outputs"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"out.0003.png", "out.0004.png", "out.0005.png",
                                                    "out.0008.png"}));
  r = Probe({"render", "Probe", "--input", "Input=in.#.png", "--set", "Mode=Copy", "--out",
             "out.#.png", "--chunk", "2/2"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadText(Path("out.0008.png")), ReadText(Path("in.0008.png")));
  EXPECT_FALSE(fs::exists(Path("out.0004.png")));
  // A stepped tool needs every frame of its shot: the gap at 6 and 7 is named.
  r = Probe({"render", "Probe", "--input", "Input=in.#.png", "--out", "seq.#.png"}, kSequenceProbe);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("frame 6"), std::string::npos) << r.err;
  r = Probe({"render", "Probe", "--input", "Input=none.#.png", "--out", "x.#.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no file of the sequence is in the current folder; give --frames"),
            std::string::npos)
      << r.err;
}

TEST_F(Farm, CheckOutputsListsWhatIsMissing) {
  const std::vector<std::string> render = {"render",   "Probe", "--size", "4x2",
                                           "--frames", "1-4",   "--out",  "k.#.png"};
  RunResult r = Probe(render);
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<std::string> check = render;
  check.push_back("--check-outputs");
  r = Probe(check);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  fs::remove(Path("k.0002.png"));
  fs::create_directory(Path("k.0002.png"));  // a folder in its place: listed, not refused
  std::ofstream(Path("k.0004.png"), std::ios::trunc).close();
  fs::resize_file(Path("k.0001.png"), fs::file_size(Path("k.0001.png")) / 2);
  r = Probe(check);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "k.0001.png\nk.0002.png\nk.0004.png\n");
  EXPECT_NE(r.err.find("3 of 4 outputs are missing, empty or not whole: frames 1,2,4"),
            std::string::npos)
      << r.err;
  check.insert(check.end(), {"--chunk", "1/2"});
  r = Probe(check);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "k.0001.png\nk.0002.png\n");
  EXPECT_EQ(Files(), (std::vector<std::string>{"k.0001.png", "k.0003.png", "k.0004.png"}));
}

TEST_F(Farm, RequestsThatCannotBeMetAreRefused) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--chunk", "4/3", "--out", "a.#.png"}, "--chunk: \"4/3\": the part K must be"},
      {{"--chunk", "2", "--out", "a.#.png"}, "is not K/N"},
      {{"--skip-existing"}, "--skip-existing needs --out PATTERN"},
      {{"--check-outputs", "--no-write"}, "--check-outputs needs --out"},
      {{"--skip-existing", "--no-write", "--out", "a.#.png"}, "cannot go together"},
      {{"--list-outputs", "--check-outputs", "--out", "a.#.png"}, "excludes"},
      // Every chunk of a stepped tool starts its shot at the list's first
      // frame, so a later start is refused for each, not only the first.
      {{"--chunk", "2/2", "--shot-start", "3", "--out", "a.#.png"}, "is after the first frame"},
      {{"--chunk", "2/2", "--out", "a.png"}, "names one file for 10 frames"},
  };
  for (const auto& [extra, message] : cases) {
    std::vector<std::string> args = {"render", "Probe", "--frames", "0-9", "--size", "4x2"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = Probe(args, kSequenceProbe);
    EXPECT_EQ(r.code, 2) << ::testing::PrintToString(extra);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_TRUE(Files().empty());
}

// A real stepped tool: three chunks of a Bubbles shot give the bytes of one run.
TEST_F(Farm, BubblesChunksMatchOneRun) {
  if (!fs::exists(std::string(TOOL_PLUGIN_FOLDER) + "/bubbles.so"))
    GTEST_SKIP() << "the Bubbles plug-in is not built";
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {
        "--plugins", TOOL_PLUGIN_FOLDER,  "render",   "Bubbles", "--size", "96x54",
        "--set",     "Preroll Bubbles=1", "--frames", "0-8"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = Run(args);
    EXPECT_EQ(r.code, 0) << r.err;
  };
  run({"--out", "one.#.png"});
  for (const char* k : {"1/3", "3/3", "2/3"}) run({"--chunk", k, "--out", "part.#.png"});
  const auto one = Names("one", 0, 8), part = Names("part", 0, 8);
  for (size_t i = 0; i < one.size(); ++i) {
    ASSERT_TRUE(fs::exists(Path(part[i]))) << part[i];
    EXPECT_EQ(ReadText(Path(part[i])), ReadText(Path(one[i]))) << part[i];
  }
}

// scripts/farm-submit.sh with stand-ins for Slurm's sbatch (it runs every task
// at once, executing a copy of the job script as slurmd does, by its #! line;
// --wrap's command is put under #!/bin/sh as sbatch does)
// and for vorn (it records its arguments, then runs the real one). Names full
// of what a shell would act on, and bytes that are not UTF-8, reach vorn as
// given in the C and UTF-8 locales, and nothing in them runs.
TEST_F(Farm, SubmittedArgumentsReachVornByteForByteInEveryLocale) {
  const fs::path bin = dir_ / "bin";
  const fs::path tools = dir_ / "it's $(touch PWNED) `touch PWNED`\n\xe9 caf\xc3\xa9";
  fs::create_directories(bin);
  fs::create_directories(tools);
  auto script = [](const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, fs::perms::owner_all);
  };
  script(bin / "sbatch", R"sh(#!/bin/bash
array=1-1 out=/dev/null
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --array=*) array=${1#--array=} ;;
    --output=*) out=${1#--output=} ;;
    --wrap=*) wrap=${1#--wrap=} ;;
  esac
  shift
done
job=$(mktemp)
if [[ -n ${wrap+set} ]]; then
  printf '#!/bin/sh\n%s\n' "$wrap" >"$job"
else
  cp -- "$1" "$job"
  shift
fi
chmod 700 "$job"
for ((task = ${array%-*}; task <= ${array#*-}; task++)); do
  log=${out//%A/$$}
  SLURM_ARRAY_TASK_ID=$task "$job" "$@" >>"${log//%a/$task}" 2>&1 || echo "task $task of $$" >>"$FAILED"
done
rm -f "$job"
echo $$
)sh");
  script(tools / "vorn", R"sh(#!/bin/bash
printf '%s\0' "$@" >"$(mktemp "$VORN_CALLS/call-XXXXXX")"
exec "$REAL_VORN" "$@"
)sh");

  const std::string hostile =
      "\xc3\xa9'$(touch PWNED)`touch PWNED`\n\"$HOME\\ caf\xe9 ;|&<>*?~ $'\\x41' ${IFS}";
  const std::vector<std::string> request = {
      "Probe", "--size", "4x2", "--frames", "0-3", "--out", "out/" + hostile + ".#.png"};
  auto split = [](const std::string& bytes) {
    std::vector<std::string> args;
    size_t pos = 0;
    for (size_t end; (end = bytes.find('\0', pos)) != std::string::npos; pos = end + 1)
      args.push_back(bytes.substr(pos, end - pos));
    return args;
  };
  for (const std::string locale : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(locale);
    const fs::path work = dir_ / ("work " + locale);
    fs::create_directories(work / "out");
    fs::create_directories(work / "calls");
    const std::vector<std::pair<std::string, std::string>> env = {
        {"PATH", bin.string() + ":" + std::getenv("PATH")},
        {"VORN", (tools / "vorn").string()},
        {"REAL_VORN", VORN_EXE},
        {"VORN_CALLS", (work / "calls").string()},
        {"VORN_PLUGIN_PATH", PROBE_PLUGIN_FOLDER},
        {"LOG_DIR", (work / "logs $(touch PWNED) `touch PWNED`").string()},
        {"FAILED", (work / "failed").string()},
        {"LC_ALL", locale},
        {"LANG", locale}};
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(work.c_str()) != 0) _exit(127);
      const int out = open((dir_ / ".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open((dir_ / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
      std::vector<std::string> all = {VORN_SOURCE_DIR "/scripts/farm-submit.sh", "2"};
      all.insert(all.end(), request.begin(), request.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    const RunResult r = Wait(pid);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(work / "failed")) << ReadText(work / "failed");
    for (const fs::path& where : {work, dir_, tools})
      EXPECT_FALSE(fs::exists(where / "PWNED")) << "a command in a name ran in " << where;
    for (int f = 0; f <= 3; ++f) {
      char frame[32];
      std::snprintf(frame, sizeof frame, ".%04d.png", f);
      EXPECT_TRUE(fs::is_regular_file(work / "out" / (hostile + frame))) << frame;
    }
    // vorn was run with exactly these arguments: the check before anything
    // is queued, each task of the array, and the check task.
    std::vector<std::string> base = {"render"};
    base.insert(base.end(), request.begin(), request.end());
    std::vector<std::vector<std::string>> expected;
    for (const std::vector<std::string>& tail :
         std::vector<std::vector<std::string>>{{"--list-frames"},
                                               {"--chunk", "1/2", "--skip-existing"},
                                               {"--chunk", "2/2", "--skip-existing"},
                                               {"--check-outputs"}}) {
      expected.push_back(base);
      expected.back().insert(expected.back().end(), tail.begin(), tail.end());
    }
    std::vector<std::vector<std::string>> calls;
    for (const auto& e : fs::directory_iterator(work / "calls"))
      calls.push_back(split(ReadText(e.path())));
    std::sort(expected.begin(), expected.end());
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, expected);
  }
}

}  // namespace
}  // namespace vorn::test
