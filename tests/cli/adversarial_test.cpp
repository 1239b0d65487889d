// The tool against hostile inputs and outputs, run as the built program under a timeout: special
// files where files are read (pipes, devices, folders, sockets, links to them), inputs over the
// caps, and kills in the middle of writing. Each run must end promptly, without a crash, with a
// message and the documented exit status, leaving what was there before as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kTimeout = std::chrono::seconds(20);

struct Outcome {
    bool hung = false;
    int exitStatus = -1;  // when it exited
    int signal = 0;       // when a signal ended it
    std::string out, err;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Adversarial : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm-adversarial-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Starts the tool with args; stdinFd (or /dev/null) as its standard input.
    pid_t start(const std::vector<std::string>& args, int stdinFd = -1) {
        // Everything the child needs is made before fork: it only redirects and executes.
        std::vector<std::string> all = {QM_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string outPath = (dir / "stdout").string(), errPath = (dir / "stderr").string();
        const pid_t pid = fork();
        if (pid == 0) {
            const int in = stdinFd >= 0 ? stdinFd : open("/dev/null", O_RDONLY);
            dup2(in, STDIN_FILENO);
            dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    // Waits for the tool, killing it after kTimeout.
    Outcome finish(pid_t pid) {
        Outcome run;
        int status = 0;
        const auto deadline = Clock::now() + kTimeout;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                run.hung = true;
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
        run.out = slurp(dir / "stdout");
        run.err = slurp(dir / "stderr");
        return run;
    }

    Outcome tool(const std::vector<std::string>& args, int stdinFd = -1) {
        return finish(start(args, stdinFd));
    }

    // Files named after what they are.
    void makeSpecialFiles() {
        ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
        fs::create_directory(dir / "folder");
        fs::create_symlink("/dev/zero", dir / "zero-link");
        fs::create_symlink("/dev/urandom", dir / "urandom-link");
        socket_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (dir / "socket").string();
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        // Over the caps: sparse, so they cost no disk.
        std::ofstream(dir / "huge").close();
        fs::resize_file(dir / "huge", std::uintmax_t{100} << 20);
        // A hundred thousand colours; a single line of three megabytes.
        std::string map;
        for (int i = 0; i < 100000; ++i) map += "12 34 56\n";
        std::ofstream(dir / "many.map") << map;
        std::ofstream(dir / "long-line.map") << "255 0 0\n"
                                             << std::string(3 << 20, '7') << "\n0 0 255\n";
        std::ofstream(dir / "long-line.qmattr")
            << "attractor { type lorenz parameters <" << std::string(2 << 20, ' ') << "1> }";
    }

    fs::path dir;
    int socket_ = -1;
};

void expectRefused(const Outcome& r, const std::string& what) {
    EXPECT_FALSE(r.hung) << what << " hung";
    EXPECT_EQ(r.signal, 0) << what << " crashed";
    EXPECT_EQ(r.exitStatus, 2) << what << ": " << r.err;
    EXPECT_NE(r.err.find("quillmere-cli"), std::string::npos) << what << " said nothing";
}

TEST_F(Adversarial, SpecialAndOversizedInputsAreRefusedAtOnce) {
    makeSpecialFiles();
    const std::string lorenz = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const fs::path out = dir / "out.bmp";
    std::ofstream(out) << "previous image";

    for (const char* name :
         {"fifo", "folder", "zero-link", "urandom-link", "socket", "huge", "long-line.qmattr"}) {
        expectRefused(tool({"info", (dir / name).string(), "--seed", "1"}),
                      std::string("info ") + name);
        expectRefused(tool({"render", (dir / name).string(), "-o", out.string()}),
                      std::string("render ") + name);
    }
    for (const char* name :
         {"fifo", "folder", "zero-link", "urandom-link", "socket", "huge", "many.map"}) {
        for (const char* option : {"--speed-map", "--angle-map"}) {
            const Outcome r =
                tool({"render", lorenz, "-o", out.string(), "--mode", "Plasma", "--size", "32x32",
                      "--iterations", "20000", option, (dir / name).string()});
            expectRefused(r, std::string(option) + " " + name);
        }
    }
    EXPECT_NE(tool({"render", lorenz, "-o", out.string(), "--mode", "Lumière", "--speed-map",
                    (dir / "many.map").string()})
                  .err.find("more than 4096 colours"),
              std::string::npos);
    EXPECT_EQ(slurp(out), "previous image");

    // A line far longer than a map line is scanned in part and the rest skipped: the map loads.
    const Outcome longLine =
        tool({"render", lorenz, "-o", out.string(), "--mode", "Plasma", "--size", "32x32",
              "--iterations", "20000", "--speed-map", (dir / "long-line.map").string()});
    EXPECT_EQ(longLine.exitStatus, 0) << longLine.err;

    // Standard input: a device is refused, an endless pipe is cut at the cap.
    const int zero = open("/dev/zero", O_RDONLY);
    expectRefused(tool({"info", "-"}, zero), "info - < /dev/zero");
    close(zero);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t endless = start({"info", "-"}, fds[0]);
    close(fds[0]);
    std::thread writer([fd = fds[1]] {
        const std::string chunk(65536, ' ');
        while (write(fd, chunk.data(), chunk.size()) > 0) {
        }
    });
    const Outcome piped = finish(endless);
    close(fds[1]);
    writer.join();
    expectRefused(piped, "info - < endless pipe");
    EXPECT_NE(piped.err.find("too large"), std::string::npos) << piped.err;
}

// Kills at random moments of a render that replaces a large image: the image is always
// whole, the old one or the new one, and no temporary file is left. SIGINT and SIGTERM end
// the tool with 130 and 143. A SIGKILL in the microseconds between naming the finished
// temporary file and renaming it would leave it; with a render of about half a second, the
// chance per SIGKILL is some 1e-5.
TEST_F(Adversarial, KilledRenderLeavesNoTemporaryAndAWholeImage) {
    const std::string lorenz = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const std::vector<std::string> common = {"render", lorenz, "--size", "1024x1024",
                                             "--seed", "1",    "--quiet"};
    auto render = [&](const fs::path& out, const char* iterations) {
        auto args = common;
        args.insert(args.end(), {"-o", out.string(), "--iterations", iterations});
        return args;
    };
    ASSERT_EQ(tool(render(dir / "old.bmp", "20000")).exitStatus, 0);
    ASSERT_EQ(tool(render(dir / "new.bmp", "40000")).exitStatus, 0);
    const std::string oldImage = slurp(dir / "old.bmp"), newImage = slurp(dir / "new.bmp");
    ASSERT_NE(oldImage, newImage);

    const auto started = Clock::now();
    tool(render(dir / "timed.bmp", "40000"));
    const auto runTime =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);

    std::mt19937 random(12345);
    const int signals[] = {SIGKILL, SIGTERM, SIGINT};
    const fs::path out = dir / "out.bmp";
    int handled = 0;
    for (int round = 0; round < 12; ++round) {
        fs::copy_file(dir / "old.bmp", out, fs::copy_options::overwrite_existing);
        const auto delay = std::chrono::microseconds(random() % (runTime.count() + 1));
        const int sig = signals[round % 3];
        const pid_t pid = start(render(out, "40000"));
        std::this_thread::sleep_for(delay);
        kill(pid, sig);
        const Outcome r = finish(pid);
        const std::string context =
            "signal " + std::to_string(sig) + " after " + std::to_string(delay.count()) + " us";
        EXPECT_FALSE(r.hung) << context;
        // A render that finished first has exited 0; a signal before main set the handlers
        // ends the tool as the signal does, with nothing written yet.
        if (r.exitStatus != 0 && r.signal != sig) {
            EXPECT_EQ(r.exitStatus, sig == SIGINT ? 130 : 143) << context << ": " << r.err;
        }
        if (r.exitStatus == 130 || r.exitStatus == 143) ++handled;
        const std::string image = slurp(out);
        EXPECT_TRUE(image == oldImage || image == newImage) << context;
        // A kill that cannot be caught may land between naming the temporary and renaming it
        // over the image (or, where the file system has no anonymous files, while writing
        // it): then one temporary may stay beside the untouched image. Caught signals leave
        // none.
        int temporaries = 0;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().filename().string().find(".tmp-") == std::string::npos) continue;
            ++temporaries;
            if (sig == SIGKILL) {
                fs::remove(entry.path());
            } else {
                ADD_FAILURE() << context << ": " << entry.path();
            }
        }
        EXPECT_LE(temporaries, 1) << context;
    }
    EXPECT_GT(handled, 0) << "no SIGINT or SIGTERM reached the tool's handler";
}

TEST_F(Adversarial, KilledSearchLeavesNoTemporaryAndOnlyWholeFinds) {
    const fs::path finds = dir / "finds";
    std::mt19937 random(54321);
    const int signals[] = {SIGKILL, SIGTERM, SIGINT};
    for (int round = 0; round < 6; ++round) {
        const pid_t pid = start({"search", "--kind", "lorenz", "--count", "9999", "--seed",
                                 std::to_string(round), "--threads", "2", "--out", finds.string()});
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 250));
        kill(pid, signals[round % 3]);
        const Outcome r = finish(pid);
        EXPECT_FALSE(r.hung);
    }
    int count = 0;
    for (const auto& entry : fs::directory_iterator(finds)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
        if (++count % 50 == 1) {  // a sample: each info is a process
            const Outcome info = tool({"info", entry.path().string(), "--seed", "1"});
            EXPECT_EQ(info.exitStatus, 0) << name << ": " << info.err;
        }
    }
    EXPECT_GT(count, 0);
}

}  // namespace
