// The program as a user gets it: installed into a staging folder with cmake --install, and as a
// Debian package unpacked with dpkg -x. Both must count from their own files alone.
#include "CountCliTest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct ToolRun {
    int status = -1;
    QByteArray out;
};

ToolRun run(const QString &program, const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    ToolRun r;
    if (p.waitForStarted() && p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.out = p.readAll();
    return r;
}

bool haveTool(const char *name)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// Scratch folders in the build tree: a place only this user can write, like an install.
QString scratchTemplate()
{
    QDir().mkpath(QStringLiteral(QW_BUILD_DIR "/tests-scratch"));
    return QStringLiteral(QW_BUILD_DIR "/tests-scratch/pkg-XXXXXX");
}

// Counts a small folder with the given quirewell-count and checks records and totals.
void countsWith(const QString &program)
{
    QTemporaryDir docs;
    const QByteArray root = QFile::encodeName(docs.path());
    clitest::tiff(root + "/a.tif", 3);
    clitest::pdf(root + "/b.pdf", 4);
    clitest::bytes(root + "/sub/broken.pdf", "%PDF-1.4\nnothing here\n");
    const clitest::Output out = clitest::runCount({"-r", "--format", "csv", docs.path()}, program);
    ASSERT_TRUE(out.ran) << out.err.toStdString();
    EXPECT_EQ(out.status, 1) << out.err.toStdString();
    const clitest::Parsed parsed = clitest::parse("csv", out.out, out.err);
    ASSERT_TRUE(parsed.ok) << parsed.why << out.out.toStdString();
    ASSERT_EQ(parsed.records.size(), 3u) << out.out.toStdString();
    EXPECT_EQ(parsed.tiffTotal, 3);
    EXPECT_EQ(parsed.pdfTotal, 4);
    for (const clitest::Record &r : parsed.records) {
        if (r.path.endsWith("broken.pdf")) {
            EXPECT_EQ(r.reason, "Damaged beyond repair");
        }
    }
}

void expectLayout(const QString &prefix)
{
    for (const char *file : {"bin/quirewell", "bin/quirewell-count", "lib/quirewell/regsvr",
                             "lib/quirewell/pdfcounter-helper", "lib/quirewell/quirewell.reg",
                             "share/doc/quirewell/Quirewell.html", "share/applications/quirewell.desktop",
                             "share/metainfo/quirewell.metainfo.xml",
                             "share/icons/hicolor/scalable/apps/quirewell.svg",
                             "share/icons/hicolor/48x48/apps/quirewell.png",
                             "share/icons/hicolor/256x256/apps/quirewell.png",
                             "share/man/man1/quirewell.1.gz", "share/man/man1/quirewell-count.1.gz",
                             "share/doc/quirewell/copyright", "share/doc/quirewell/changelog.gz",
                             "share/bash-completion/completions/quirewell-count"})
        EXPECT_TRUE(QFileInfo::exists(prefix + QLatin1Char('/') + QLatin1String(file))) << file;
    EXPECT_FALSE(QFileInfo::exists(prefix + QStringLiteral("/lib/quirewell/quirewell.reg.lock")));
    QFile store(prefix + QStringLiteral("/lib/quirewell/quirewell.reg"));
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    const QByteArray text = store.readAll();
    EXPECT_TRUE(text.contains("CTIFFPageCount Class"));
    EXPECT_TRUE(text.contains("CPDFPageCounter Class"));
    // Written in a staging folder, used elsewhere: every library is named relative to the store.
    EXPECT_TRUE(text.contains("@=\"libtallyfold.so.")) << text.toStdString();
    EXPECT_FALSE(text.contains("=\"/")) << "no absolute path in the store\n" << text.toStdString();

    // One version everywhere: the project's.
    QFile metainfo(prefix + QStringLiteral("/share/metainfo/quirewell.metainfo.xml"));
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
    EXPECT_TRUE(metainfo.readAll().contains("<release version=\"" QW_VERSION "\"")) << "AppStream release";
    const ToolRun count = run(prefix + QStringLiteral("/bin/quirewell-count"), {"--version"});
    EXPECT_EQ(count.status, 0);
    EXPECT_TRUE(count.out.startsWith("quirewell-count " QW_VERSION " (")) << count.out.toStdString();
    // Answered without a display, with status 0.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove(QStringLiteral("DISPLAY"));
    noDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
    noDisplay.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const ToolRun help = run(prefix + QStringLiteral("/bin/quirewell"), {"--help"}, noDisplay);
    EXPECT_EQ(help.status, 0) << help.out.toStdString();
    EXPECT_TRUE(help.out.startsWith("usage: quirewell [FOLDER]")) << help.out.toStdString();
    const ToolRun version = run(prefix + QStringLiteral("/bin/quirewell"), {"--version"}, noDisplay);
    EXPECT_EQ(version.status, 0) << version.out.toStdString();
    EXPECT_TRUE(version.out.startsWith("Quirewell ")) << version.out.toStdString();
}

TEST(Packaging, InstallIntoDestdir)
{
    QTemporaryDir stage(scratchTemplate());
    ASSERT_TRUE(stage.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), stage.path());
    const ToolRun install = run(QStringLiteral(QW_CMAKE_COMMAND),
                            {"--install", QStringLiteral(QW_BUILD_DIR), "--prefix", "/usr"}, env);
    ASSERT_EQ(install.status, 0) << install.out.toStdString();
    const QString prefix = stage.path() + QStringLiteral("/usr");
    expectLayout(prefix);

    if (haveTool("desktop-file-validate")) {
        const ToolRun v = run("desktop-file-validate", {prefix + "/share/applications/quirewell.desktop"});
        EXPECT_EQ(v.status, 0) << v.out.toStdString();
        EXPECT_FALSE(v.out.contains("error")) << v.out.toStdString();
    } else {
        ADD_FAILURE() << "desktop-file-validate is missing (scripts/setup installs desktop-file-utils)";
    }
    if (haveTool("appstreamcli")) {
        const ToolRun v = run("appstreamcli", {"validate", "--no-net", prefix + "/share/metainfo/quirewell.metainfo.xml"});
        EXPECT_EQ(v.status, 0) << v.out.toStdString();
    } else {
        ADD_FAILURE() << "appstreamcli is missing (scripts/setup installs appstream)";
    }

    // The installed counter finds its components through lib/quirewell alone: the build's
    // program folder is not on any path it looks at.
    countsWith(prefix + QStringLiteral("/bin/quirewell-count"));
    // The window refuses a bad command line before it shows anything.
    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const ToolRun window = run(prefix + QStringLiteral("/bin/quirewell"), {"--no-such-option"}, offscreen);
    EXPECT_EQ(window.status, 2) << window.out.toStdString();
    EXPECT_TRUE(window.out.contains("usage: quirewell [FOLDER]")) << window.out.toStdString();
}

TEST(Packaging, DebianPackage)
{
    if (!haveTool("dpkg-deb") || !haveTool("dpkg-shlibdeps"))
        GTEST_SKIP() << "not a Debian system (dpkg-dev missing)";
    QTemporaryDir scratch(scratchTemplate());
    ASSERT_TRUE(scratch.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QW_BUILD_DIR"), QStringLiteral(QW_BUILD_DIR));
    const ToolRun package = run(QStringLiteral(QW_SOURCE_DIR "/scripts/package"), {scratch.filePath("out")}, env);
    ASSERT_EQ(package.status, 0) << package.out.toStdString();
    const QString deb = QString::fromUtf8(package.out.trimmed().split('\n').last());
    ASSERT_TRUE(deb.endsWith(".deb") && QFileInfo::exists(deb)) << package.out.toStdString();

    const ToolRun info = run("dpkg-deb", {"-I", deb});
    ASSERT_EQ(info.status, 0) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains("Package: quirewell")) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains("Version: " QW_VERSION "\n")) << info.out.toStdString();
    // The private components need no linker cache; the store's lock file goes on removal.
    const ToolRun postrm = run("dpkg-deb", {"-I", deb, "postrm"});
    EXPECT_TRUE(postrm.out.contains("rm -f /usr/lib/quirewell/quirewell.reg.lock")) << postrm.out.toStdString();
    for (const char *script : {"postinst", "postrm"}) {
        const ToolRun text = run("dpkg-deb", {"-I", deb, script});
        EXPECT_FALSE(text.out.contains("ldconfig")) << script;
    }

    if (haveTool("lintian")) {
        const ToolRun lint = run("lintian", {"--pedantic", "--display-info", deb});
        for (const QByteArray &line : lint.out.split('\n'))
            EXPECT_FALSE(line.startsWith("E: ") || line.startsWith("W: ")) << line.toStdString();
    } else {
        std::printf("lintian is not installed: the package was not checked with it\n");
    }
    // Dependencies found in the binaries by dpkg-shlibdeps, not written by hand.
    for (const char *dependency : {"Depends:", "libtiff", "libqpdf", "libqt6core6", "libqt6widgets6"})
        EXPECT_TRUE(info.out.contains(dependency)) << dependency << "\n" << info.out.toStdString();

    const QString root = scratch.filePath("root");
    const ToolRun unpack = run("dpkg", {"-x", deb, root});
    ASSERT_EQ(unpack.status, 0) << unpack.out.toStdString();
    expectLayout(root + QStringLiteral("/usr"));
    countsWith(root + QStringLiteral("/usr/bin/quirewell-count"));
}

}  // namespace
