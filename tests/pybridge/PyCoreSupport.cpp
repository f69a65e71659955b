#include "PyCoreSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace pycore {

namespace {

std::unique_ptr<pybridge::TPythonEngine>& EngineSlot()
{
    static std::unique_ptr<pybridge::TPythonEngine> engine;
    return engine;
}

// Finalises the shared engine after the last test.
class EngineEnvironment : public ::testing::Environment {
public:
    void TearDown() override { EngineSlot().reset(); }
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

} // namespace

QString LibPython()
{
    const QString chosen = qEnvironmentVariable("PYCORE_LIBPYTHON");
    return chosen.isEmpty() ? QStringLiteral(PYCORE_LIBPYTHON) : chosen;
}
QString LibPythonFolder() { return QFileInfo(LibPython()).absolutePath(); }
QString LibPythonName() { return QFileInfo(LibPython()).fileName(); }

QString TestedVersion()
{
    const auto v = pybridge::VersionStatedByName(LibPythonName());
    return v ? QStringLiteral("%1.%2").arg(v->Major).arg(v->Minor) : QString();
}

pybridge::TPythonEngine& Engine()
{
    auto& slot = EngineSlot();
    if (!slot) {
        slot = std::make_unique<pybridge::TPythonEngine>();
        // As in the program, a client stays attached: an engine that loses its
        // last client finalises itself.
        auto* anchor = new pybridge::TEngineClient(slot.get());
        anchor->SetName(QStringLiteral("Anchor"));
        anchor->SetEngine(slot.get());
        slot->SetUseLastKnownVersion(false);
        slot->SetDllPath(LibPythonFolder());
        slot->SetDllName(LibPythonName());
        // Without a runtime every test would wait on an error box: stop at once.
        if (!QFileInfo::exists(LibPython())) {
            std::fprintf(stderr, "no Python runtime at %s\n", qPrintable(LibPython()));
            std::exit(1);
        }
        slot->LoadDll();
    }
    return *slot;
}

bool InChild() { return qEnvironmentVariableIsSet("PYCORE_CHILD"); }

ChildResult RunChild(const QString& name)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYCORE_CHILD"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=FreshInterpreter.") + name});
    ChildResult r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.output = QStringLiteral("timeout");
        return r;
    }
    r.output = QString::fromUtf8(p.readAll());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

QStringList BoxLines(const QString& output)
{
    QStringList boxes;
    for (const QString& line : output.split(u'\n'))
        if (line.startsWith(QLatin1String("BOX|")))
            boxes << line.trimmed();
    return boxes;
}

QString MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const platform::Exception& e) {
        return e.Message();
    }
    return QStringLiteral("<no exception>");
}

} // namespace pycore
