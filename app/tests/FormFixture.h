#pragma once
// A main window built in a temporary program folder of its own, with fake
// dialogs and a fake clock, and helpers for the state files in that folder.

#include "FakeDialogs.h"
#include "Form1.h"
#include "util/codepage.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    // The window's own key and pins (off: it talks in clear, writes no key file).
    bool links = false;

    // The temporary folder, ending in '/' (a UTF-8 path, as the program keeps paths).
    std::string Folder() const { return tmp.path().toStdString() + "/"; }
    // A UTF-8 file-system path inside the temporary folder.
    std::string FsPath(const std::string &utf8Name) const { return tmp.path().toStdString() + "/" + utf8Name; }

    TForm1 &Make(const std::string &programFolder = {})
    {
        TForm1Config config;
        config.programFolder = programFolder.empty() ? Folder() : programFolder;
        config.dialogs = dialogs;
        config.clock = clock;
        // Free ports of the system's choice, so tests never meet each other.
        config.msgPort = 0;
        config.strmPort = 0;
        config.discovery = false; // many windows in one process, maybe no bus
        config.links = links;
        form = std::make_unique<TForm1>(config);
        return *form;
    }
    TForm1 &Start(const std::string &programFolder = {})
    {
        Make(programFolder);
        form->FormCreate();
        return *form;
    }

    void WriteFile(const std::string &utf8Name, const std::string &bytes) const
    {
        std::ofstream(FsPath(utf8Name), std::ios::binary) << bytes;
    }
    // Waits for the state files the window has written so far.
    std::string ReadFile(const std::string &utf8Name) const
    {
        if (form)
            form->FlushStateFiles();
        std::ifstream in(FsPath(utf8Name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool Exists(const std::string &utf8Name) const
    {
        if (form)
            form->FlushStateFiles();
        return std::filesystem::exists(FsPath(utf8Name));
    }
    // Names in the temporary folder, to see that nothing was written.
    std::vector<std::string> Entries() const
    {
        if (form)
            form->FlushStateFiles();
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(tmp.path().toStdString()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A Windows-1251 text from a UTF-8 literal.
    static std::string Cp(const std::string &utf8) { return dz::Utf8ToCp1251(utf8); }

    QTemporaryDir tmp;
    std::shared_ptr<TFakeDialogs> dialogs = std::make_shared<TFakeDialogs>();
    std::shared_ptr<TFakeClock> clock = std::make_shared<TFakeClock>();
    std::unique_ptr<TForm1> form;
};
