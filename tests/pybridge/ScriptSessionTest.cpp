// Stopping scripts that catch KeyboardInterrupt: the session's forced stop.
#include "PyCoreSupport.h"

#include "pybridge/PythonEngine.h"
#include "pybridge/ScriptSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

using namespace pybridge;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Scripts that survive a plain stop. Each spends its time in a sleep inside
// its try, where the tick's interrupt lands, and loops only until `end`: a
// forced stop that fails lets it end normally instead of hanging the test.
struct SwallowCase {
    const char* name;
    const char* code;
    const char* ran; // repr of the script's list `ran` at the end
};

const SwallowCase kCases[] = {
    {"except BaseException: pass",
     "while time.monotonic() < end:\n"
     "    try:\n"
     "        time.sleep(0.005)\n"
     "    except BaseException:\n"
     "        pass\n",
     "[]"},
    {"bare except: continue",
     "while time.monotonic() < end:\n"
     "    try:\n"
     "        time.sleep(0.005)\n"
     "    except:\n"
     "        continue\n",
     "[]"},
    {"a handler that loops",
     "while time.monotonic() < end:\n"
     "    try:\n"
     "        time.sleep(0.005)\n"
     "    except BaseException:\n"
     "        while time.monotonic() < end:\n"
     "            try:\n"
     "                time.sleep(0.005)\n"
     "            except BaseException:\n"
     "                ran.append('caught') if not ran else None\n",
     "['caught']"},
    {"finally runs its cleanup",
     "try:\n"
     "    while time.monotonic() < end:\n"
     "        try:\n"
     "            time.sleep(0.005)\n"
     "        except BaseException:\n"
     "            pass\n"
     "finally:\n"
     "    ran.append('finally')\n"
     "    ran.append(sys.gettrace() is not None)\n",
     "['finally', True]"},
    {"nested calls that catch",
     "def inner():\n"
     "    try:\n"
     "        time.sleep(0.005)\n"
     "    except BaseException:\n"
     "        pass\n"
     "def outer():\n"
     "    while time.monotonic() < end:\n"
     "        try:\n"
     "            inner()\n"
     "        except BaseException:\n"
     "            pass\n"
     "outer()\n",
     "[]"},
    {"a generator that catches",
     "def ticks():\n"
     "    while time.monotonic() < end:\n"
     "        try:\n"
     "            yield time.sleep(0.005)\n"
     "        except KeyboardInterrupt:\n"
     "            pass\n"
     "for _ in ticks():\n"
     "    pass\n",
     "[]"},
};

} // namespace

TEST(ScriptSession, ALateSecondStopEndsScriptsThatCatchTheInterrupt)
{
    TPythonEngine& e = pycore::Engine();
    TScriptSession session(e);
    session.Attach();
    ASSERT_TRUE(session.Attached());
    for (const SwallowCase& c : kCases) {
        SCOPED_TRACE(c.name);
        // The script runs on this thread: the stops come from its ticks. The
        // first, and a further one well within the delay, are both caught.
        Clock::time_point start;
        std::optional<Clock::time_point> first, early, forced;
        session.OnTick = [&] {
            const Clock::time_point now = Clock::now();
            if (!first && now - start >= 100ms) {
                session.RequestStop();
                first = Clock::now(); // after the session's own reading
            } else if (first && !early && now - *first >= 300ms) {
                session.RequestStop();
                early = now;
                EXPECT_FALSE(session.StopForced());
            } else if (early && !forced && now - *first >= TScriptSession::ForceDelay()) {
                session.RequestStop();
                forced = now;
                EXPECT_TRUE(session.StopForced());
            }
        };
        std::string error = "<none>", ran;
        Clock::time_point ended;
        {
            TScriptSession::TRun run(session);
            e.ExecString("import sys, time\nran = []\nend = time.monotonic() + 10\n");
            start = Clock::now();
            try {
                e.ExecString(c.code);
            } catch (const EPythonError& x) {
                error = x.EName.toStdString();
            }
            ended = Clock::now();
            ran = e.EvalStringAsStr("repr(ran)").toStdString();
        }
        session.OnTick = nullptr;
        ASSERT_TRUE(forced) << "ended before the forcing stop: " << error;
        EXPECT_EQ(error, "KeyboardInterrupt");
        EXPECT_LT(ended - *forced, 500ms);
        EXPECT_TRUE(session.StopRequested());
        EXPECT_TRUE(session.StopForced());
        EXPECT_EQ(ran, c.ran);

        // The next run is an ordinary one, untraced.
        {
            TScriptSession::TRun run(session);
            EXPECT_FALSE(session.StopForced());
            e.ExecString("x = 1 + 1\n"
                         "n = 0\n"
                         "for i in range(10000):\n"
                         "    n += 1\n"
                         "traced = sys.gettrace()\n");
            EXPECT_EQ(e.EvalStringAsStr("(x, n, traced)").toStdString(), "(2, 10000, None)");
        }
        EXPECT_FALSE(session.StopRequested());
        EXPECT_FALSE(session.StopForced());
    }
}
