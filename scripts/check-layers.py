#!/usr/bin/env python3
"""Checks that includes point only down the order of the layer folders.

    app > body > select > disp > run > xafs > ct > {imgdata, batch, config, sets} > util

A folder may include itself and any folder below it. imgdata, batch, config and sets
stand side by side and include none of each other. The core folders (run, xafs, ct,
imgdata, batch, config, sets, util) include no Qt Widgets header and no generated
form header (ui_*.h), so they build and are tested without a window.

Two placements are allowed on purpose:
  - app/CfgStore.h, the configuration store, may be included from any folder;
  - the panels ct/CtCalc.* and ct/CtProgress.* are widgets that live in ct/: they
    stand at the level of disp/ (they may use widgets, their form and disp/), and
    the core of ct/ may not include them.

Usage:
  check-layers.py [--root DIR] [--widgets-dir DIR ...]
  check-layers.py --self-test [--root DIR] [--widgets-dir DIR ...]

--widgets-dir names a header directory of a widget module (QtWidgets, QtCharts); its
class headers are the forbidden names. Without it a built-in list of the common ones
is used. Exit status 0 when every include follows the order, 1 otherwise.
"""

import argparse
import os
import re
import shutil
import sys
import tempfile

ORDER = [
    ("app",),
    ("body",),
    ("select",),
    ("disp",),
    ("run",),
    ("xafs",),
    ("ct",),
    ("imgdata", "batch", "config", "sets"),
    ("util",),
]
CORE = {"run", "xafs", "ct", "imgdata", "batch", "config", "sets", "util"}
RANK = {folder: rank for rank, level in enumerate(ORDER) for folder in level}

# Included from anywhere: the store every layer reads its settings from.
OPEN_HEADERS = {"app/CfgStore.h"}
# Widgets that live in ct/ but stand at the level of disp/.
PANEL_STEMS = {"ct/CtCalc", "ct/CtProgress"}
PANEL_FOLDER = "disp"

WIDGET_MODULES = {"QtWidgets", "QtCharts", "QtOpenGLWidgets", "QtPrintSupport"}
# Used when the module's header directory is not given.
COMMON_WIDGET_CLASSES = {
    "QAbstractButton", "QApplication", "QBoxLayout", "QCheckBox", "QComboBox",
    "QDialog", "QDockWidget", "QDoubleSpinBox", "QFileDialog", "QFormLayout", "QFrame",
    "QGridLayout", "QGroupBox", "QHBoxLayout", "QLabel", "QLayout", "QLineEdit",
    "QMainWindow", "QMenu", "QMenuBar", "QMessageBox", "QProgressBar", "QPushButton",
    "QRadioButton", "QScrollArea", "QSlider", "QSpinBox", "QSplitter", "QStatusBar",
    "QTabWidget", "QTableWidget", "QTextEdit", "QToolBar", "QToolButton", "QTreeWidget",
    "QVBoxLayout", "QWidget", "QChart", "QChartView",
}

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".cxx")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def widget_classes(dirs):
    names = set(COMMON_WIDGET_CLASSES)
    for directory in dirs:
        if os.path.isdir(directory):
            names.update(n for n in os.listdir(directory) if n.startswith("Q") and "." not in n)
    return names


def folder_of(path):
    """The layer a file (root-relative, '/'-separated) stands at, or None."""
    stem = os.path.splitext(path)[0]
    if stem in PANEL_STEMS:
        return PANEL_FOLDER
    head = path.split("/", 1)[0]
    return head if head in RANK else None


def target_of(root, source, text):
    """The root-relative path a quoted include names, or None outside the tree."""
    here = os.path.dirname(source)
    beside = os.path.normpath(os.path.join(here, text)).replace(os.sep, "/")
    if text.startswith(".") or os.path.isfile(os.path.join(root, beside)):
        candidate = beside
    else:
        candidate = os.path.normpath(text).replace(os.sep, "/")
    return None if candidate.startswith("..") else candidate


def is_widget_header(text, widgets):
    name = text.rsplit("/", 1)[-1]
    module = text.split("/", 1)[0]
    return (module in WIDGET_MODULES or text in WIDGET_MODULES or name in widgets
            or re.fullmatch(r"ui_\w+\.h", name) is not None)


def may_include(folder, target_folder):
    return folder == target_folder or RANK[target_folder] > RANK[folder]


def check_file(root, source, widgets):
    """Problems of one root-relative source file, as (line number, message)."""
    folder = folder_of(source)
    core = folder in CORE
    problems = []
    with open(os.path.join(root, source), encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quoted, text = match.group(1) == '"', match.group(2).strip()
            if core and is_widget_header(text, widgets):
                problems.append((number, f'{folder}/ is core and may not include the widget '
                                         f'or form header "{text}"'))
                continue
            target = target_of(root, source, text) if quoted else text
            if target is None or target in OPEN_HEADERS:
                continue
            target_folder = folder_of(target)
            if target_folder is None or may_include(folder, target_folder):
                continue
            problems.append((number, f'{folder}/ may not include "{text}": {target_folder}/ '
                                     f'is not below {folder}/'))
    return problems


def sources(root):
    for folder in sorted(RANK):
        top = os.path.join(root, folder)
        for directory, subdirs, files in os.walk(top):
            subdirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")


def check_tree(root, widgets):
    """Every problem of the tree as (path, line number, message)."""
    return [(source, number, message)
            for source in sources(root)
            for number, message in check_file(root, source, widgets)]


def report(problems):
    for path, number, message in problems:
        print(f"{path}:{number}: {message}")
    return 1 if problems else 0


# Lines planted in a copy of the tree: (file, line, must it be reported).
PLANTED = [
    ("util/PlantedUp.h", '#include "ct/CtFbp.h"', True),
    ("util/PlantedSame.h", '#include "util/Numbers.h"', False),
    ("ct/PlantedUp.cpp", '#include "disp/Sinogram.h"', True),
    ("ct/PlantedRelative.cpp", '#include "../body/Body.h"', True),
    ("ct/PlantedBeside.cpp", '#include "CtFbp.h"', False),
    ("ct/PlantedPanel.cpp", '#include "ct/CtCalc.h"', True),
    ("ct/PlantedWidget.h", "#include <QLabel>", True),
    ("xafs/PlantedModule.cpp", "#include <QtWidgets/QWidget>", True),
    ("imgdata/PlantedForm.cpp", '#include "ui_Body.h"', True),
    ("imgdata/PlantedSideways.cpp", '#include "sets/Kvn.h"', True),
    ("config/PlantedStore.cpp", '#include "app/CfgStore.h"', False),
    ("run/PlantedRun.cpp", '#include "xafs/XafsTiff.h"', False),
    ("run/PlantedRunUp.cpp", '#include "disp/ColorBar.h"', True),
    ("xafs/PlantedRunFromBelow.cpp", '#include "run/RunRequest.h"', True),
    ("disp/PlantedDispWidget.cpp", "#include <QWidget>", False),
    ("disp/PlantedPanelBeside.cpp", '#include "ct/CtCalc.h"', False),
    ("body/commands/PlantedCommands.cpp", '#include "select/SelectDir.h"', False),
    ("select/PlantedUp.cpp", '#include "body/Body.h"', True),
]


def self_test(root, widgets):
    """Plants each line in its own file of a copy of the tree and checks the verdict."""
    failures = 0
    with tempfile.TemporaryDirectory() as copy:
        for folder in RANK:
            if os.path.isdir(os.path.join(root, folder)):
                shutil.copytree(os.path.join(root, folder), os.path.join(copy, folder))
        for path, line, expected in PLANTED:
            os.makedirs(os.path.dirname(os.path.join(copy, path)), exist_ok=True)
            with open(os.path.join(copy, path), "w", encoding="utf-8") as f:
                f.write("#pragma once\n\n" + line + "\n")
        problems = check_tree(copy, widgets)
        flagged = {path for path, _, _ in problems}
        for path, line, expected in PLANTED:
            verdict = "reported" if path in flagged else "passed"
            ok = (path in flagged) == expected
            failures += not ok
            print(f"{'ok  ' if ok else 'FAIL'} {path}: {line} {verdict}")
    print("self-test", "failed" if failures else "passed")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--widgets-dir", action="append", default=[])
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    widgets = widget_classes(args.widgets_dir)
    if args.self_test:
        return self_test(root, widgets)
    return report(check_tree(root, widgets))


if __name__ == "__main__":
    sys.exit(main())
