// The settings dialog on a virtual X display, driven from outside with
// xdotool the way a person would use it. Every wait has a deadline; a dialog
// that does not react is torn down so that the run fails instead of hanging.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/windowStuff.h"
#include "platform/display.h"
#include "test_support.h"

// Last: its macros (None, Bool, Status) clash with the headers above.
#include <X11/Xlib.h>

extern char** environ;

using engine::WindowSettings;
using velox_test::ScopedWorkDir;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// --- The program's picture -------------------------------------------------

constexpr int kPictureWidth = 300;
constexpr int kPictureHeight = 80;

struct Rgb {
  std::uint8_t r, g, b;
};

// Four quadrants, so that a picture drawn upside down or mirrored shows.
Rgb PictureColour(int x, int y) {
  const bool left = x < kPictureWidth / 2;
  const bool top = y < kPictureHeight / 2;
  if (top) return left ? Rgb{220, 40, 40} : Rgb{240, 220, 40};
  return left ? Rgb{40, 60, 220} : Rgb{40, 180, 60};
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// A 24-bit uncompressed BMP file image, rows bottom-up as the format has them.
std::vector<std::uint8_t> MakePicture() {
  const std::uint32_t rowBytes = kPictureWidth * 3;  // already a multiple of 4
  const std::uint32_t pixelBytes = rowBytes * kPictureHeight;
  std::vector<std::uint8_t> bmp;
  bmp.push_back('B');
  bmp.push_back('M');
  Put32(bmp, 54 + pixelBytes);
  Put32(bmp, 0);
  Put32(bmp, 54);
  Put32(bmp, 40);
  Put32(bmp, kPictureWidth);
  Put32(bmp, kPictureHeight);
  Put16(bmp, 1);
  Put16(bmp, 24);
  Put32(bmp, 0);
  Put32(bmp, pixelBytes);
  Put32(bmp, 2835);
  Put32(bmp, 2835);
  Put32(bmp, 0);
  Put32(bmp, 0);
  for (int y = kPictureHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      const Rgb c = PictureColour(x, y);
      bmp.push_back(c.b);
      bmp.push_back(c.g);
      bmp.push_back(c.r);
    }
  }
  return bmp;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) bool velox_program_resource(int id,
                                                                              const void** data,
                                                                              std::size_t* size) {
  static const std::vector<std::uint8_t> picture = MakePicture();
  if (id != 106) return false;
  *data = picture.data();
  *size = picture.size();
  return true;
}

namespace {

// --- Running the tools -------------------------------------------------------

struct ToolResult {
  bool ok = false;
  std::string out;
};

// Runs a program to its end or until the limit, then kills it.
ToolResult RunTool(const std::vector<std::string>& args, std::chrono::milliseconds limit = 3s) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  ToolResult result;
  if (spawned != 0) {
    close(fds[0]);
    return result;
  }
  const auto deadline = Clock::now() + limit;
  bool timedOut = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  result.ok = !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

// Asks the window to close the way a window manager's close button does.
bool SendDeleteRequest(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
  XSync(display, False);
  XCloseDisplay(display);
  return sent;
}

constexpr char kTitle[] = "Select Your Settings";

bool IsDialog(gpointer window) {
  const char* title = gtk_window_get_title(GTK_WINDOW(window));
  return title != nullptr && std::string(title) == kTitle;
}

// Runs on the dialog's thread. Destroying a dialog takes its lists' pop-up
// windows with it, so every window in the list is held until the end.
gboolean DestroyDialogs(gpointer) {
  GList* windows = gtk_window_list_toplevels();
  g_list_foreach(
      windows, [](gpointer w, gpointer) { g_object_ref(w); }, nullptr);
  for (GList* w = windows; w != nullptr; w = w->next) {
    if (IsDialog(w->data)) gtk_widget_destroy(GTK_WIDGET(w->data));
  }
  g_list_free_full(windows, g_object_unref);
  return G_SOURCE_REMOVE;
}

// --- Driving the dialog ------------------------------------------------------

// Control centres, relative to the dialog's client area.
constexpr int kStart[] = {85, 352};
constexpr int kExit[] = {245, 352};
constexpr int kFullscreenBox[] = {172, 279};
constexpr int kVSyncBox[] = {172, 299};
constexpr int kOnTopBox[] = {172, 319};
constexpr int kResolutionList[] = {240, 129};
constexpr int kRateList[] = {240, 158};
constexpr int kBackBufferList[] = {240, 187};
constexpr int kAntialiasList[] = {240, 217};
constexpr int kAspectList[] = {240, 247};

// Drives the dialog from a thread of its own while the test's thread runs
// the modal loop. Steps start once the dialog is on screen and drawn.
class DialogDriver {
 public:
  using Steps = std::function<void(DialogDriver&)>;

  DialogDriver(std::string screenshot, Steps steps)
      : mScreenshot(std::move(screenshot)), mThread([this, steps] { Drive(steps); }) {}

  ~DialogDriver() { Finish(); }

  // Called once the dialog has returned; joins the thread.
  void Finish() {
    mReturned = true;
    if (mThread.joinable()) mThread.join();
  }

  std::vector<std::string> Failures() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mFailures;
  }

  void Click(const int (&at)[2]) {
    Xdo({"mousemove", "--window", mWindow, std::to_string(at[0]), std::to_string(at[1]), "click",
         "1"});
    std::this_thread::sleep_for(150ms);
  }

  // Opens a list with the mouse and moves down its items with the keyboard.
  void Choose(const int (&list)[2], int stepsDown) {
    Click(list);
    std::this_thread::sleep_for(250ms);  // the pop-up maps and grabs the keyboard
    std::vector<std::string> keys = {"key", "--delay", "40"};
    for (int i = 0; i < stepsDown; ++i) keys.push_back("Down");
    keys.push_back("Return");
    Xdo(keys);
    std::this_thread::sleep_for(250ms);
  }

  void Keys(const std::string& key) {
    Xdo({"windowfocus", mWindow});
    std::this_thread::sleep_for(100ms);
    Xdo({"key", key});
    std::this_thread::sleep_for(150ms);
  }

  void CloseWindow() {
    if (!SendDeleteRequest(std::strtoul(mWindow.c_str(), nullptr, 10)))
      Fail("could not send WM_DELETE_WINDOW");
  }

 private:
  void Fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(mMutex);
    mFailures.push_back(what);
  }

  void Xdo(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    if (!RunTool(args).ok) Fail("xdotool failed: " + args[1]);
  }

  template <class Done>
  bool WaitFor(Done done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (mReturned || Clock::now() > deadline) return done();
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }

  void Drive(const Steps& steps) {
    const bool shown = WaitFor(
        [this] {
          const ToolResult found = RunTool(
              {"xdotool", "search", "--onlyvisible", "--name", std::string("^") + kTitle + "$"},
              1s);
          if (!found.ok || found.out.empty()) return false;
          mWindow = found.out.substr(0, found.out.find('\n'));
          return true;
        },
        10s);
    const bool drawn =
        shown && WaitFor([this] { return std::filesystem::exists(mScreenshot); }, 10s);
    if (!drawn) {
      Fail(shown ? "the dialog was never drawn" : "no dialog window appeared");
    } else {
      std::this_thread::sleep_for(100ms);
      steps(*this);
    }
    if (!WaitFor([this] { return mReturned.load(); }, 5s)) {
      Fail("the dialog did not end");
      g_idle_add(DestroyDialogs, nullptr);
    }
  }

  std::string mScreenshot;
  std::string mWindow;
  std::atomic<bool> mReturned{false};
  std::mutex mMutex;
  std::vector<std::string> mFailures;
  std::thread mThread;
};

extern "C" void OnWatchdog(int) {
  const char message[] = "settings dialog test: watchdog expired\n";
  (void)!write(STDERR_FILENO, message, sizeof message - 1);
  _exit(3);
}

class SettingsDialogGui : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGALRM, OnWatchdog);
    alarm(30);
    platform::SetDisplayModesForTesting({{640, 480, 60, platform::kFormatX8R8G8B8},
                                         {1280, 1024, 60, platform::kFormatX8R8G8B8},
                                         {1024, 768, 75, platform::kFormatX8R8G8B8},
                                         {1024, 768, 60, platform::kFormatX8R8G8B8},
                                         {800, 600, 60, platform::kFormatR5G6B5},
                                         {1024, 768, 85, platform::kFormatR5G6B5}});
  }

  void TearDown() override {
    // The dialog keeps its window; a later case must find only its own.
    DestroyDialogs(nullptr);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    platform::SetDisplayModesForTesting({});
    alarm(0);
  }

  // Runs the dialog while steps drive it; the record it returned.
  WindowSettings Run(const DialogDriver::Steps& steps, const std::string& screenshot) {
    std::filesystem::remove(screenshot);
    setenv("VELOX_DIALOG_SCREENSHOT", screenshot.c_str(), 1);
    DialogDriver driver(screenshot, steps);
    const WindowSettings settings = engine::SettingsDialog();
    driver.Finish();
    for (const std::string& failure : driver.Failures()) ADD_FAILURE() << failure;
    return settings;
  }

  std::string Shot(const ScopedWorkDir& dir) { return (dir.Path() / "dialog.png").string(); }
};

bool KeptDialogWindow() {
  GList* windows = gtk_window_list_toplevels();
  bool kept = false;
  for (GList* w = windows; w != nullptr; w = w->next) kept = kept || IsDialog(w->data);
  g_list_free(windows);
  return kept;
}

TEST_F(SettingsDialogGui, StartKeepsThePreselectionAndShowsTheLayout) {
  ScopedWorkDir dir;
  const std::string screenshot = VELOX_DIALOG_SCREENSHOT_PATH;
  const WindowSettings s = Run([](DialogDriver& d) { d.Click(kStart); }, screenshot);

  EXPECT_EQ(s.width, 1024);
  EXPECT_EQ(s.height, 768);
  EXPECT_EQ(s.refreshRate, 60);
  EXPECT_EQ(s.backBufferFormat, 22);
  EXPECT_EQ(s.multiSampleType, 0);
  EXPECT_EQ(s.aspectRatio, -1.0f);
  EXPECT_TRUE(s.fullscreen);
  EXPECT_EQ(s.presentInterval, 0x80000000u);
  EXPECT_FALSE(s.alwaysOnTop);
  EXPECT_EQ(s.depthStencilFormat, 77);
  EXPECT_EQ(s.title, L"Empty");
  EXPECT_TRUE(KeptDialogWindow());

  const std::string rows = velox_test::CloseLogAndReadRows(dir.Path());
  EXPECT_EQ(velox_test::Count(rows, "Settings dialog initiated"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Quit called"), 0);

  // The client area and the picture at (20, 20), the right way up.
  GError* error = nullptr;
  GdkPixbuf* shot = gdk_pixbuf_new_from_file(screenshot.c_str(), &error);
  ASSERT_NE(shot, nullptr) << (error != nullptr ? error->message : "");
  EXPECT_EQ(gdk_pixbuf_get_width(shot), 340);
  EXPECT_EQ(gdk_pixbuf_get_height(shot), 400);
  const int channels = gdk_pixbuf_get_n_channels(shot);
  const int stride = gdk_pixbuf_get_rowstride(shot);
  const guchar* pixels = gdk_pixbuf_get_pixels(shot);
  for (const auto& [x, y] : {std::pair{5, 5}, {290, 10}, {10, 70}, {295, 75}, {149, 39}}) {
    const guchar* p = pixels + (20 + y) * stride + (20 + x) * channels;
    const Rgb want = PictureColour(x, y);
    EXPECT_EQ(p[0], want.r) << "picture pixel " << x << "," << y;
    EXPECT_EQ(p[1], want.g) << "picture pixel " << x << "," << y;
    EXPECT_EQ(p[2], want.b) << "picture pixel " << x << "," << y;
  }
  g_object_unref(shot);
}

TEST_F(SettingsDialogGui, ChoicesReachTheRecord) {
  ScopedWorkDir dir;
  const WindowSettings s = Run(
      [](DialogDriver& d) {
        d.Choose(kResolutionList, 1);  // 1024 x 768 -> 1280 x 1024
        d.Choose(kRateList, 2);        // 60Hz -> 85Hz
        d.Choose(kBackBufferList, 1);  // "16bit"
        d.Choose(kAntialiasList, 2);   // "4 Samples"
        d.Choose(kAspectList, 2);      // "16:10"
        d.Click(kFullscreenBox);
        d.Click(kVSyncBox);
        d.Click(kOnTopBox);
        d.Click(kStart);
      },
      Shot(dir));

  EXPECT_EQ(s.width, 1280);
  EXPECT_EQ(s.height, 1024);
  EXPECT_EQ(s.refreshRate, 85);
  EXPECT_EQ(s.backBufferFormat, 23);
  EXPECT_EQ(s.multiSampleType, 4);
  EXPECT_EQ(s.aspectRatio, 1.6f);
  EXPECT_FALSE(s.fullscreen);
  EXPECT_EQ(s.presentInterval, 1u);
  EXPECT_TRUE(s.alwaysOnTop);
}

TEST_F(SettingsDialogGui, ReturnPressesTheFocusedStartButton) {
  ScopedWorkDir dir;
  const WindowSettings s = Run([](DialogDriver& d) { d.Keys("Return"); }, Shot(dir));
  EXPECT_EQ(s.width, 1024);
  EXPECT_TRUE(s.fullscreen);
  const std::string rows = velox_test::CloseLogAndReadRows(dir.Path());
  EXPECT_EQ(velox_test::Count(rows, "Quit called"), 0);
}

TEST_F(SettingsDialogGui, CloseButtonReturnsTheRecordAndQuits) {
  ScopedWorkDir dir;
  const WindowSettings s = Run(
      [](DialogDriver& d) {
        d.Click(kVSyncBox);
        d.Click(kVSyncBox);  // ticked and unticked again
        d.Choose(kBackBufferList, 1);
        d.CloseWindow();
      },
      Shot(dir));
  EXPECT_EQ(s.presentInterval, 0x80000000u);
  EXPECT_EQ(s.backBufferFormat, 23);
  EXPECT_TRUE(s.fullscreen);
  EXPECT_TRUE(KeptDialogWindow());
  const std::string rows = velox_test::CloseLogAndReadRows(dir.Path());
  EXPECT_EQ(velox_test::Count(rows, "Quit called"), 1);
}

TEST_F(SettingsDialogGui, ExitEndsTheProcessWithCodeZero) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  ScopedWorkDir dir;
  const std::string screenshot = Shot(dir);
  EXPECT_EXIT(
      {
        Run([](DialogDriver& d) { d.Click(kExit); }, screenshot);
        std::_Exit(1);  // the dialog returned instead of ending the process
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
