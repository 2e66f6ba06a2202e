#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails when a window text is handed to a widget as a bare QStringLiteral instead of through tr() or
# QCoreApplication::translate, so every text the user reads can be translated.
# Usage: check_bare_ui_strings.sh SOURCE_DIR
set -eu
src=${1:?usage: check_bare_ui_strings.sh SOURCE_DIR}
calls='setText|setCaption|setWindowTitle|setToolTip|setStatusTip|setWhatsThis|setPlaceholderText|setTitle|addAction|addMenu|addTab|insertColumn|showMessage|warning|question|information|critical|confirm|showError|askText|askName|QAction|QMenu|QLabel|QPushButton|QCheckBox|QRadioButton|QGroupBox|QToolBar|CaptionBar'
# A literal with two letters in a row is a text; names of objects, icons and keys go through other calls.
found=$(grep -rnE "($calls)\(([^()]*, *)?QStringLiteral\(\"[^\"]*[A-Za-z]{2}" \
    "$src/ui" "$src/browse" "$src/widgets" "$src/app/gui" --include='*.cpp' --include='*.h' || true)
if [ -n "$found" ]; then
    echo "Window texts that bypass tr():"
    echo "$found"
    exit 1
fi
echo "every window text goes through tr()"
