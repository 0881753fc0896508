#!/usr/bin/env bash
# Feeds scripts/check-layers small trees, one wrong include each, and expects it to refuse every
# one of them and to accept includes that run the right way.
set -uo pipefail
checker="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failed=0
# CASE: expected-exit-status file content
run_case() {
    local expected="$1" file="$2" content="$3"
    rm -rf "$work/tree"
    mkdir -p "$work/tree/$(dirname "$file")"
    printf '%s\n' "$content" >"$work/tree/$file"
    "$checker" "$work/tree" >"$work/out" 2>&1
    local status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "FAIL: $file with '$content': exit $status, expected $expected"
        cat "$work/out"
        failed=1
    fi
}

run_case 1 src/core/document/A.cpp '#include <QString>'
run_case 1 src/core/text/B.h '#include <QtCore/QString>'
run_case 1 tests/core/C.cpp '  #  include "QObject"'
run_case 1 src/cli/D.cpp '#include <QCoreApplication>'
run_case 1 fuzz/x/E.cpp '#include <QDir>'
run_case 1 src/core/document/F.cpp '#include "gui/tree/BranchTree.h"'
run_case 1 src/core/base/G.cpp '#include "cli/Commands.h"'
run_case 1 src/cli/H.cpp '#include "gui/app/LudexUnit.h"'
run_case 1 src/gui/tree/I.cpp '#include "gui/app/LudexUnit.h"'
run_case 1 src/gui/tree/J.cpp '#include "gui/dialogs/FindDialog.h"'
run_case 1 src/gui/properties/K.cpp '#include "gui/tree/Pictures.h"'
run_case 1 src/core/xml/L.cpp '#include "../document/DomService.h"'

run_case 0 src/gui/app/M.cpp '#include <QMainWindow>'
run_case 0 tests/gui/N.cpp '#include <QTest>'
run_case 0 src/gui/app/O.cpp '#include "gui/tree/BranchTree.h"'
run_case 0 src/cli/P.cpp '#include "core/document/DomService.h"'
run_case 0 src/core/document/Q.cpp '#include <queue>'

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "check-layers refuses every wrong include and accepts the right ones"
