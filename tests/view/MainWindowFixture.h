#pragma once

// The real window against the loopback service, with one company registered here.

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "CompanyMaker.h"
#include "TestSupport.h"
#include "WebFolderService.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"
#include "view/CompanyListView.h"
#include "view/MainWindow.h"

namespace tidewell::test {

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : service(core.dir / "service") {
        service.AddUser("kim", "pw1234", "김철수", 365, 1LL << 30);
        RegisterCompany(0, "shop", "본점");
        window = std::make_unique<TformMainWindow>(WindowSetup());
        window->show();
        QApplication::processEvents();
    }

    // What the window works with here: the fixture's settings and places, the loopback service.
    TSessionSetup WindowSetup() {
        return {
            &core.hive(), {ServiceEndpoint{service.BaseUrl(), {}}, core.Places()}, &SystemClock()};
    }

    // A company folder registered in a slot; the list shows it from the next login on.
    std::filesystem::path RegisterCompany(int slot, const std::string& folderName,
                                          const std::string& name, std::int64_t rows = 100) {
        const std::filesystem::path folder = core.dir / folderName;
        CompanyRecipe recipe;
        recipe.name = name;
        recipe.rows = rows;
        MakeCompanyFolder(folder.string(), recipe);
        auto key = *core.hive().OpenKey(kProgramKey, true);
        key.WriteString(CompanySlotValue(slot, "Key"), EnsureCompanyKey(folder.string()));
        key.WriteString(CompanySlotValue(slot, "Name"), name);
        key.WriteString(CompanySlotValue(slot, "Path"), folder.string());
        return folder;
    }

    void TypeLogin(const char* password = "pw1234") {
        window->Edit1->clear();
        window->Edit2->clear();
        QTest::keyClicks(window->Edit1, "kim");
        QTest::keyClicks(window->Edit2, password);
        QTest::keyClick(window->Edit2, Qt::Key_Return);
        QApplication::processEvents();
    }

    // The window as the active one, so that focus and shortcuts behave as on a desktop.
    void Activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void MovePointer(QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, window->vt->viewport()->mapToGlobal(at),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window->vt->viewport(), &move);
    }

    CoreFixture core;
    WebFolderService service;
    std::unique_ptr<TformMainWindow> window;
};

}  // namespace tidewell::test
