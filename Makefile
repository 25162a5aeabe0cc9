# make demo | make test | make bench
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

.PHONY: demo test bench clean

$(VENV)/.build-requirements:
	$(PYTHON) -m venv $(VENV)
	$(PIP) install --upgrade pip
	$(PIP) install $(BUILD_REQUIREMENTS)
	touch $@

demo: $(VENV)/.build-requirements
	$(INSTALL) .
	$(PY) -m gridfold demo

test: $(VENV)/.build-requirements
	$(INSTALL) ".[test]"
	$(PY) -m pytest

bench: $(VENV)/.build-requirements
	$(INSTALL) ".[bench]"
	$(PY) bench/solve_speed.py
	$(PY) bench/case_file_speed.py

clean:
	rm -rf build .venv gridfold-demo
