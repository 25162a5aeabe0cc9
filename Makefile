# make demo | make test | make bench
# Each target creates .venv when it is missing, installs gridfold with the extras it needs
# (an incremental C++ build: see build-dir in pyproject.toml), then runs.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python

.PHONY: demo test bench clean

$(PY):
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip

demo: $(PY)
	$(PY) -m pip install --quiet .
	$(PY) -m gridfold demo

test: $(PY)
	$(PY) -m pip install --quiet ".[test]"
	$(PY) -m pytest

bench: $(PY)
	$(PY) -m pip install --quiet ".[bench]"
	$(PY) bench/solve_speed.py

clean:
	rm -rf build .venv gridfold-demo
