// SPDX-License-Identifier: MIT
// The About box the main window opens from Help.
#pragma once

#include <QDialog>

namespace bw::ui {

inline constexpr const char *kVersionText = "Bellwick Version 5.0 Build 13";

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

} // namespace bw::ui
