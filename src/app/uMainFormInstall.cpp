// TfrmMainForm installing catalogue items: the selected one, or every checked one in tree order,
// handed to the messenger's content installer one at a time.
#include "app/uMainForm.h"

#include <stdexcept>

namespace zephyrine::app {

using platform::TMsgIcon;

namespace {

constexpr int kCheckedStateIndex = 2;

}  // namespace

void TfrmMainForm::SetActionsEnabled(bool enabled) {
    actInstall->setEnabled(enabled);
    actUpgrade->setEnabled(enabled);
    actInstallChe->setEnabled(enabled);
}

platform::IMessengerContentInstaller& TfrmMainForm::ConnectedMsnInstaller() {
    if (!MsnInstaller) {
        if (!Platform.CreateInstaller)
            throw std::runtime_error("The messenger content installer is not available.");
        MsnInstaller = Platform.CreateInstaller();
        if (!MsnInstaller)
            throw std::runtime_error("The messenger content installer is not available.");
        MsnInstaller->OnContentInstalled = [this](std::int32_t lhrResult) {
            MsnInstallerContentInstalled(lhrResult);
        };
    }
    return *MsnInstaller;
}

void TfrmMainForm::treWinksListClick() {
    const QModelIndex node = SelectedNode();
    if (TWinksTreeModel::IsItem(node)) {
        PreviewItem(treWinksListModel->ItemElement(node));
        if (!upgrading_) actInstall->setEnabled(true);  // the update keeps the commands off
    } else {                                            // nothing selected, or a category
        FCurrentItem = platform::TXMLNode();
        if (!upgrading_) actInstall->setEnabled(false);
    }
}

void TfrmMainForm::InstallItemUrl(const std::string& url, const std::string& name) {
    FInstallName = name;
    try {
        ConnectedMsnInstaller().InstallFromUrl(DownloadBaseUrl + url);
    } catch (const std::exception& e) {
        ShowMessage(e.what(), TMsgIcon::Information);
        SetActionsEnabled(true);  // no completion will follow
    }
}

void TfrmMainForm::actInstallExecute() {
    const QModelIndex node = SelectedNode();
    if (!TWinksTreeModel::IsItem(node)) {
        ShowMessage("Please select a Wink in the list.", TMsgIcon::Information);
        return;
    }
    try {
        SetActionsEnabled(false);
        FQueueMode = false;
        const std::string url = FCurrentItem.AttributeValue("DownloadUrl").Text();
        InstallItemUrl(url, treWinksListModel->Caption(node).toStdString());
    } catch (const std::exception&) {
        // No item is current, or it has no "DownloadUrl": nothing was handed over, so the
        // commands must not stay disabled waiting for a completion.
        SetActionsEnabled(true);
    }
}

void TfrmMainForm::actInstallCheExecute() {
    try {
        FUrlQueue.clear();
        FNameQueue.clear();
        int count = 0;
        // Every node in tree order: each category followed by its items.
        for (int c = 0; c < treWinksListModel->CategoryCount(); ++c) {
            for (int i = 0; i < treWinksListModel->ItemCount(c); ++i) {
                const QModelIndex item = treWinksListModel->ItemIndex(c, i);
                if (treWinksListModel->StateIndex(item) != kCheckedStateIndex) continue;
                ++count;
                FUrlQueue.push_back(
                    treWinksListModel->ItemElement(item).AttributeValue("DownloadUrl").Text());
                FNameQueue.push_back(treWinksListModel->Caption(item).toStdString());
            }
        }
        FInstallTotal = count;
        if (FUrlQueue.empty()) {
            ShowMessage("Please select a section to install before.", TMsgIcon::Information);
            return;
        }
        SetActionsEnabled(false);
        FQueueMode = true;
        InstallItemUrl(FUrlQueue.front(), FNameQueue.front());
    } catch (const std::exception&) {
        // An unreadable attribute ends the command without a message.
    }
}

void TfrmMainForm::MsnInstallerContentInstalled(std::int32_t lhrResult) {
    if (lhrResult != 0) {
        SetActionsEnabled(true);  // silently; a running queue stops here
        return;
    }
    if (!FQueueMode) {
        SetStatusText(QString::fromStdString(FInstallName) + " installed successfully.");
        SetActionsEnabled(true);
        return;
    }
    if (FUrlQueue.size() < 2) {
        SetStatusText("Total " + QString::number(FInstallTotal) +
                      " Winks of MSN Messenger have been installed successfully.");
        SetActionsEnabled(true);
        return;
    }
    FUrlQueue.pop_front();
    FNameQueue.pop_front();
    if (!FUrlQueue.empty()) InstallItemUrl(FUrlQueue.front(), FNameQueue.front());
}

}  // namespace zephyrine::app
