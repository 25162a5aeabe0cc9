# make demo | make test (lint, then the suite) | make lint | make bench (solve speed, case-file speed, merge speed and parallel tables) | make sanitize
# Each target creates .venv when it is missing, installs gridfold with the extras it needs,
# then runs. The build requirements live in .venv and the build runs without isolation, so
# the fixed build folder (build-dir in pyproject.toml) makes every later install incremental.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
PIP    := $(PY) -m pip --quiet --disable-pip-version-check
INSTALL = CMAKE_BUILD_PARALLEL_LEVEL=$${CMAKE_BUILD_PARALLEL_LEVEL:-2} $(PIP) install --no-build-isolation

# Same requirements as [build-system] in pyproject.toml.
BUILD_REQUIREMENTS := "scikit-build-core>=0.10" "pybind11>=2.13" "cmeel-eigen>=3.4"

.PHONY: demo test lint bench sanitize clean

# A virtual environment with the build requirements, in the folder the target names
# (.venv for every target, .venv-sanitize for sanitize).
%/.build-requirements:
	$(PYTHON) -m venv $*
	$*/bin/python -m pip --quiet --disable-pip-version-check install --upgrade pip
	$*/bin/python -m pip --quiet --disable-pip-version-check install $(BUILD_REQUIREMENTS)
	touch $@

demo: $(VENV)/.build-requirements
	$(INSTALL) .
	$(PY) -m gridfold demo

# Python sources and type stubs checked by ruff (configured in pyproject.toml).
LINT_PATHS := python tests examples bench common config driver adapter network study powerflow

lint: $(VENV)/.build-requirements
	$(INSTALL) ".[test]"
	$(PY) -m ruff check $(LINT_PATHS)

test: lint
	$(PY) -m pytest

bench: $(VENV)/.build-requirements
	$(INSTALL) ".[bench]"
	$(PY) bench/solve_speed.py
	$(PY) bench/case_file_speed.py
	$(PY) bench/merge_speed.py
	$(PY) bench/parallel_study.py

# The suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer, in a venv and
# build folder of its own. Python itself is not instrumented, so the sanitizer runtime is
# preloaded; leak reports are off because the interpreter keeps its objects at exit. Any
# report ends the test process with an error.
# pypowsybl's native library aborts under the preloaded sanitizer runtime, before any report of
# ours could show: the tests that compare with it are left out unless PYTEST_ARGS says otherwise.
PYTEST_ARGS ?= -q -k "not pypowsybl"
SAN_VENV   := .venv-sanitize
SAN_PY     := $(SAN_VENV)/bin/python
SAN_PIP    := $(SAN_PY) -m pip --quiet --disable-pip-version-check
SAN_FLAGS  := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
# libstdc++ is preloaded too: the sanitizer runtime finds the C++ exception functions it wraps
# only in libraries loaded before it starts (extensions of other packages throw exceptions too).
SAN_RUNTIME = $$($${CXX:-c++} -print-file-name=libasan.so) $$($${CXX:-c++} -print-file-name=libstdc++.so)

sanitize: $(SAN_VENV)/.build-requirements
	CMAKE_BUILD_PARALLEL_LEVEL=$${CMAKE_BUILD_PARALLEL_LEVEL:-2} $(SAN_PIP) install --no-build-isolation \
		-C build-dir=build/sanitize -C cmake.build-type=RelWithDebInfo \
		-C cmake.define.CMAKE_CXX_FLAGS="$(SAN_FLAGS)" \
		-C cmake.define.CMAKE_SHARED_LINKER_FLAGS="$(SAN_FLAGS)" \
		-C cmake.define.CMAKE_MODULE_LINKER_FLAGS="$(SAN_FLAGS)" ".[test]"
	LD_PRELOAD="$(SAN_RUNTIME)" \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	$(SAN_PY) -m pytest $(PYTEST_ARGS)

clean:
	rm -rf build .venv $(SAN_VENV) gridfold-demo
