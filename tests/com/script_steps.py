"""Programs for the step runners tests/com/scripts/steps.vbs and steps.js:
a test writes down calls on Hanamail objects once, runs them through either
script engine under cscript, and reads back what each member returned."""
import os

import wine_prefix

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNERS = {"vbscript": os.path.join(HERE, "scripts", "steps.vbs"),
           "jscript": os.path.join(HERE, "scripts", "steps.js")}

STEP, FIELD, REF = "\x1e", "\x1f", "\x1d"
# As an argument: the object the step acts on (for a VARIANT parameter).
SELF = REF
# As an argument: an array of two strings (a VARIANT array in VBScript, an
# array object in JScript).
ARRAY = REF + "["


def ref(key):
    """As an argument: the result saved under key."""
    return REF + key


class Program:
    def __init__(self):
        self.steps = []

    def _add(self, *fields):
        for f in fields:
            if STEP in f or FIELD in f:
                raise ValueError("a field holds a separator: %r" % f)
        self.steps.append(FIELD.join(fields))

    def new(self, obj, progid):
        self._add("new", obj, progid)

    def call(self, obj, member, *args):
        self._add("call", obj, member, *args)

    def get(self, obj, key, member, *args):
        self._add("get", obj, key, member, *args)

    def put(self, obj, prop, value):
        self._add("put", obj, prop, value)

    def drop(self, obj):
        self._add("drop", obj)


class Result:
    def __init__(self, process, values, errors):
        self.process = process
        self.values = values
        self.errors = errors

    def kind(self, key):
        return self.values[key][0]

    def __getitem__(self, key):
        return self.values[key][1]


def _read(path):
    with open(path, encoding="utf-16", newline="") as f:
        return f.read()


def run(prefix, engine, program, out_dir, cwd=None, timeout=240):
    """Runs program with the engine's step runner; the results are read from
    out_dir (a Linux folder, made here). Raises when the runner did not
    finish: cscript reports a failed script by printing nothing."""
    os.makedirs(out_dir, exist_ok=True)
    program_path = os.path.join(out_dir, "_program.txt")
    with open(program_path, "w", encoding="utf-16", newline="") as f:
        f.write(STEP.join(program.steps))
    p = prefix.run(["cscript", "//nologo", wine_prefix.winpath(RUNNERS[engine]), wine_prefix.winpath(program_path),
                    wine_prefix.winpath(out_dir)], timeout=timeout, cwd=cwd)
    marker = "steps done: %d" % len(program.steps)
    if marker.encode() not in p.stdout:
        done = len([n for n in os.listdir(out_dir) if not n.startswith("_")])
        raise AssertionError("the %s runner did not finish (status %d, %d results saved)"
                             % (engine, p.returncode, done))
    values = {}
    for name in os.listdir(out_dir):
        if name.endswith(".txt") and not name.startswith("_"):
            kind, _, text = _read(os.path.join(out_dir, name)).partition("\n")
            values[name[:-4]] = (kind, text)
    return Result(p, values, _read(os.path.join(out_dir, "_errors.txt")))
