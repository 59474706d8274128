// Tests and benchmarks look at the main window's fields and components through this one type, by
// their names: Probe(window).treWinksList. The window keeps them private otherwise.
#pragma once

#include "app/uMainForm.h"

namespace zephyrine::app {

class TMainFormProbe {
  public:
    explicit TMainFormProbe(TfrmMainForm& window)
        : FCurrentItem(window.FCurrentItem),
          FInstallTotal(window.FInstallTotal),
          FUrlQueue(window.FUrlQueue),
          FNameQueue(window.FNameQueue),
          FQueueMode(window.FQueueMode),
          FItemCount(window.FItemCount),
          FServer(window.FServer),
          FInstallName(window.FInstallName),
          staOptState(window.staOptState),
          staOptStatePanel(window.staOptStatePanel),
          prgUpgrade(window.prgUpgrade),
          Panel1(window.Panel1),
          treWinksList(window.treWinksList),
          ImageList1(window.ImageList1),
          treWinksListModel(window.treWinksListModel),
          Panel2(window.Panel2),
          flsPreview(window.flsPreview),
          flsPreviewControl(window.flsPreviewControl),
          Panel3(window.Panel3),
          btnInstall(window.btnInstall),
          btnUpgrade(window.btnUpgrade),
          btnAbout(window.btnAbout),
          btnSupport(window.btnSupport),
          btnClose(window.btnClose),
          btnInstallChe(window.btnInstallChe),
          xmlWinksFile(window.xmlWinksFile),
          PopupMenu1(window.PopupMenu1),
          actInstall(window.actInstall),
          actInstallChe(window.actInstallChe),
          actUpgrade(window.actUpgrade),
          actHelp(window.actHelp),
          actAbout(window.actAbout),
          ApplicationEvents1(window.ApplicationEvents1),
          nmpWinksCount(window.nmpWinksCount),
          nmpWinksList(window.nmpWinksList),
          MsnInstaller(window.MsnInstaller),
          Global(window.Global),
          Platform(window.Platform),
          Roots(window.Roots),
          DownloadBaseUrl(window.DownloadBaseUrl),
          FileArgument(window.FileArgument),
          ServerPort(window.ServerPort) {}

    platform::TXMLNode& FCurrentItem;
    int& FInstallTotal;
    std::deque<std::string>& FUrlQueue;
    std::deque<std::string>& FNameQueue;
    bool& FQueueMode;
    int& FItemCount;
    std::unique_ptr<server::TCustomWebServer>& FServer;
    std::string& FInstallName;
    QStatusBar*& staOptState;
    QLabel*& staOptStatePanel;
    QProgressBar*& prgUpgrade;
    QWidget*& Panel1;
    QTreeView*& treWinksList;
    TImageList& ImageList1;
    TWinksTreeModel*& treWinksListModel;
    QWidget*& Panel2;
    QWidget*& flsPreview;
    platform::TFlashControl*& flsPreviewControl;
    QWidget*& Panel3;
    QPushButton*& btnInstall;
    QPushButton*& btnUpgrade;
    QPushButton*& btnAbout;
    QPushButton*& btnSupport;
    QPushButton*& btnClose;
    QPushButton*& btnInstallChe;
    platform::TXMLDocument& xmlWinksFile;
    QMenu*& PopupMenu1;
    QAction*& actInstall;
    QAction*& actInstallChe;
    QAction*& actUpgrade;
    QAction*& actHelp;
    QAction*& actAbout;
    TApplicationEvents*& ApplicationEvents1;
    std::unique_ptr<httpclient::TNMHTTP>& nmpWinksCount;
    std::unique_ptr<httpclient::TNMHTTP>& nmpWinksList;
    std::unique_ptr<platform::IMessengerContentInstaller>& MsnInstaller;
    TGlobal& Global;
    platform::TPlatform& Platform;
    const platform::TRemoteRoots& Roots;
    const std::string& DownloadBaseUrl;
    const std::string& FileArgument;
    const std::uint16_t& ServerPort;
};

inline TMainFormProbe Probe(TfrmMainForm& window) {
    return TMainFormProbe(window);
}

}  // namespace zephyrine::app
