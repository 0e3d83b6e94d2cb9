#!/usr/bin/env python3
"""Power-cut campaign: how often does running the same package again repair an interrupted flash?

For every preset of `noxsim create` it makes a machine, a newer ROM image whose contents (ROM
holes included) differ from the machine's, and a package for a typical flash of that machine.
A clean run on a copy gives N, the number of SMIs the flash takes, and the reference result.
Then, on fresh copies, the run is cut by the power-loss fault after SMI K for K spread over
1..N (one K in every phase of the run where the budget allows, the rest at random within
equal strata), the verdict of the next power-on is recorded, and the package is run again
without the fault. The rerun must leave the chip (and the EC's flash) as the reference run
did, except that a ROM hole whose bytes did not survive the cut holds the image's bytes.
Some runs are killed instead (SIGKILL after a random delay, --kills) and some meet a failing
region (--fails).

Prints per preset and in total the share of interrupted runs that the rerun restored and the
verdict counts; exits with 1 when any rerun did not restore, 2 on a usage error.

    bench/cut-campaign.py --build build/dev --cuts 240 --seed 1
"""
import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Each preset with the image options, the package's option script and the extra modules that
# make a typical flash of it. `reboot`: the update is applied by the next boot (capsule).
PRESETS = [
    {"name": "legacy-8m", "rom": ["--seed", "5"], "cmd": "/p /b /n /e /k0"},
    {"name": "uefi-16m", "rom": ["--seed", "5"], "cmd": "/p /b /n /e /k0"},
    {"name": "secure-16m", "rom": ["--seed", "5", "--capsule"], "cmd": "/p /b /n"},
    {"name": "secure-16m", "label": "secure-16m capsule", "rom": ["--seed", "5", "--capsule"],
     "cmd": "/p /b /capsule", "reboot": True},
    {"name": "me-16m", "rom": ["--seed", "5", "--me-full"], "cmd": "/p /b /n /e /k0 /me", "ec": True},
    {"name": "minimal-1m", "rom": ["--seed", "5"], "cmd": "/p /b"},
]
POWER_LOSS_EXIT = 86
VERDICTS = ["old", "new", "recovery", "no start"]


class Tools:
    def __init__(self, args, work):
        build = os.path.abspath(args.build)
        self.noxsim = os.path.abspath(args.noxsim or os.path.join(build, "tools/noxsim/noxsim"))
        self.noxpack = os.path.abspath(args.noxpack or os.path.join(build, "tools/noxpack/noxpack"))
        self.noxwingui = os.path.abspath(args.noxwingui or os.path.join(build, "src/platform/noxwingui"))
        self.work = work

    def sim(self, *args):
        r = subprocess.run([self.noxsim, *args], capture_output=True, text=True)
        if r.returncode not in (0, 1):
            raise RuntimeError("noxsim %s: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def run(self, tool, machine, kill_after=None):
        """Runs the packaged utility against `machine` with OK to the start box and the
        warning; returns its exit code (None when it was killed)."""
        env = dict(os.environ, NOXWINGUI_MACHINE=machine)
        with open(os.path.join(self.work, "out.txt"), "w") as out:
            p = subprocess.Popen([tool], stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT, env=env,
                                 cwd=self.work)
            p.stdin.write(b"OK\nOK\n")
            p.stdin.close()
            if kill_after is not None:
                try:
                    return p.wait(timeout=kill_after)
                except subprocess.TimeoutExpired:
                    p.send_signal(signal.SIGKILL)
                    p.wait()
                    return None
            return p.wait(timeout=300)

    def output(self):
        with open(os.path.join(self.work, "out.txt"), errors="replace") as f:
            return f.read()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def hole_ranges(chip):
    """ROM hole files (header included) on 4 KiB sectors, as the image generator lays them."""
    tail = bytes.fromhex("c10fdc11901100173153eba8")
    ranges = []
    for at in range(0, len(chip) - 24, 4096):
        first = int.from_bytes(chip[at:at + 4], "little")
        if 0x05CA01FC <= first <= 0x05CA020B and chip[at + 4:at + 16] == tail:
            size = int.from_bytes(chip[at + 20:at + 23], "little")
            if 24 <= size <= len(chip) - at:
                ranges.append((at, size))
    return ranges


def expected_chip(reference, original, cut, image_chip):
    """The reference result, but a hole whose machine bytes the cut did not leave holds the
    image's bytes: nothing of the machine's is left to keep."""
    want = bytearray(reference)
    for at, size in hole_ranges(original):
        if cut[at:at + size] != original[at:at + size] and image_chip is not None:
            want[at:at + size] = image_chip[at:at + size]
    return bytes(want)


def first_difference(a, b):
    for at in range(0, min(len(a), len(b)), 4096):
        if a[at:at + 4096] != b[at:at + 4096]:
            for k in range(at, min(at + 4096, len(a), len(b))):
                if a[k] != b[k]:
                    return k
    return None if len(a) == len(b) else min(len(a), len(b))


def phases(journal_lines, first_smi):
    """Maximal stretches of SMIs of the same kind (operation and address band) in the run."""
    out = []
    for line in journal_lines:
        try:
            e = json.loads(line)
        except ValueError:
            continue
        if "smi" not in e or e.get("n", 0) < first_smi:
            continue
        # The OFBD requests by what they ask: secure-flash pieces and sessions, ME and EC requests.
        kind = (e.get("op"), e.get("request"), e.get("class"), e.get("selector"), e.get("subFunction"),
                e.get("addr", -1) >> 20 if isinstance(e.get("addr"), int) else -1, bool(e.get("chip")))
        if out and out[-1][0] == kind:
            out[-1][2] = e["n"]
        else:
            out.append([kind, e["n"], e["n"]])
    return out


def cut_points(rng, count, first, last, run_phases):
    """`count` SMI numbers in [first, last]: one in each phase while the budget lasts (the
    phases spread evenly when there are more than cuts), the rest at random within strata."""
    points = []
    chosen = run_phases
    if len(run_phases) > count:
        chosen = [run_phases[int(i * len(run_phases) / count)] for i in range(count)]
    for _, lo, hi in chosen:
        points.append(rng.randint(lo, hi))
    rest = count - len(points)
    for i in range(rest):
        lo = first + (last - first + 1) * i // rest
        hi = first + (last - first + 1) * (i + 1) // rest - 1
        points.append(rng.randint(lo, max(lo, hi)))
    return sorted(points)


class Preset:
    def __init__(self, tools, plan, root):
        self.t = tools
        self.plan = plan
        self.label = plan.get("label", plan["name"])
        self.dir = os.path.join(root, self.label.replace(" ", "-"))
        os.makedirs(self.dir)
        self.fresh = os.path.join(self.dir, "fresh")
        tools.sim("create", self.fresh, "--preset", plan["name"])
        self.rom = os.path.join(self.dir, "new.rom")
        tools.sim("rom", self.fresh, "-o", self.rom, *plan["rom"])
        modules = ["--rom", "0=" + self.rom]
        if plan.get("ec"):
            ec = os.path.join(self.dir, "ec.img")
            tools.sim("ec", self.fresh, "-o", ec)
            modules += ["--ec", "0=" + ec]
        driver = os.path.join(self.dir, "driver.sys")
        with open(driver, "wb") as f:
            f.write(b"D" * 4096)
        self.tool = os.path.join(self.dir, "tool")
        subprocess.run([tools.noxpack, "build", "--stub", tools.noxwingui, "--driver64", driver, "-o", self.tool,
                        *modules, "--cmd", plan["cmd"]], check=True, capture_output=True)
        self.original = read(os.path.join(self.fresh, "flash.bin"))
        # The image as the chip would hold it: a capsule's image proper, a firmware-only
        # image behind the chip's regions in front of it.
        self.image_chip = self.chip_image(read(self.rom))
        ref = self.copy("reference")
        rc = self.finish(ref, tools.run(self.tool, ref))
        if rc != 0:
            raise RuntimeError("%s: the clean run ended with %s:\n%s" % (self.label, rc, tools.output()))
        self.reference = read(os.path.join(ref, "flash.bin"))
        self.reference_ec = self.ec_of(ref)
        if self.reference == self.original:
            raise RuntimeError("%s: the clean run changed nothing" % self.label)
        self.smis = json.load(open(os.path.join(ref, "state.json")))["smiCount"]
        with open(os.path.join(ref, "journal.jsonl")) as f:
            lines = f.readlines()
        self.phases = phases(lines, 1)
        # Erase and write requests of the run, by the chip addresses that faults are given in
        # (the block table's part starts at me.span on a machine with an ME region).
        profile = json.load(open(os.path.join(ref, "machine.json")))
        span = profile.get("me", {}).get("span", 0) if profile.get("me", {}).get("present") else 0
        self.writes = []
        for line in lines:
            e = json.loads(line)
            if e.get("op") in ("erase", "write") and e.get("status") == 0 and "refused" not in e:
                self.writes.append((e["op"], e["addr"] + (0 if e.get("chip") else span)))
        shutil.rmtree(ref)
        self.results = []

    def chip_image(self, rom):
        size = len(self.original)
        if len(rom) > size:
            rom = rom[len(rom) - size:]  # a capsule header in front of the image proper
        if len(rom) < size:
            rom = self.original[:size - len(rom)] + rom
        return rom if len(rom) == size else None

    def ec_of(self, machine):
        path = os.path.join(machine, "ec.bin")
        return read(path) if os.path.exists(path) else None

    def copy(self, name):
        target = os.path.join(self.dir, name)
        if os.path.exists(target):
            shutil.rmtree(target)
        shutil.copytree(self.fresh, target)
        return target

    def finish(self, machine, rc):
        """A capsule is applied by the machine's next boot."""
        if rc == 0 and self.plan.get("reboot"):
            self.t.sim("reboot", machine)
        return rc

    def trial(self, kind, machine, settings, kill_after=None):
        for s in settings:
            self.t.sim("set", machine, s)
        rc = self.t.run(self.tool, machine, kill_after)
        cut_output = self.t.output()
        verdict = json.loads(self.t.sim("verdict", machine, "--json"))["verdict"]
        cut = read(os.path.join(machine, "flash.bin"))
        self.t.sim("set", machine, "faults.powerLossAfterSmi=0", "faults.fail=[]", "timing.realMicrosPerRequest=0")
        rerun = self.finish(machine, self.t.run(self.tool, machine))
        after = read(os.path.join(machine, "flash.bin"))
        want = expected_chip(self.reference, self.original, cut, self.image_chip)
        problem = None
        if rerun != 0:
            problem = "the rerun ended with %s" % rerun
        elif after != want:
            problem = "the chip differs from the reference at 0x%X" % first_difference(after, want)
        elif self.ec_of(machine) != self.reference_ec:
            problem = "the EC flash differs from the reference"
        result = {"kind": kind, "settings": settings, "rc": rc, "verdict": verdict, "problem": problem}
        if problem:
            result["output"] = self.t.output()[-1500:]
            result["cutOutput"] = cut_output[-800:]
        self.results.append(result)
        return result


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/dev", help="build directory with noxsim, noxpack and noxwingui")
    for program in ("noxsim", "noxpack", "noxwingui"):
        ap.add_argument("--" + program, help="the %s program (default: in the build directory)" % program)
    ap.add_argument("--cuts", type=int, default=240, help="power cuts over all presets (default 240)")
    ap.add_argument("--seed", type=int, default=1, help="seed of the cut points (default 1)")
    ap.add_argument("--kills", type=int, default=0, help="runs killed with SIGKILL, over all presets (default 0)")
    ap.add_argument("--fails", type=int, default=6, help="runs with a failing region, over all presets (default 6)")
    ap.add_argument("--presets", default="", help="comma-separated labels (default: all)")
    ap.add_argument("--keep", action="store_true", help="keep the work directory and say where it is")
    ap.add_argument("--verbose", action="store_true", help="one line per trial")
    args = ap.parse_args()
    plans = [s for s in PRESETS if not args.presets or s.get("label", s["name"]) in args.presets.split(",")]
    if not plans or args.cuts < 0 or args.kills < 0 or args.fails < 0:
        ap.print_usage(sys.stderr)
        return 2

    work = tempfile.mkdtemp(prefix="nox-cut-campaign.")
    tools = Tools(args, work)
    failed = 0
    try:
        totals = {"trials": 0, "restored": 0, **{v: 0 for v in VERDICTS}}
        for index, plan in enumerate(plans):
            share = lambda n: n // len(plans) + (1 if index < n % len(plans) else 0)
            preset = Preset(tools, plan, work)
            rng = random.Random("%d/%s" % (args.seed, preset.label))
            for k in cut_points(rng, share(args.cuts), 1, preset.smis, preset.phases):
                r = preset.trial("cut", preset.copy("trial"), ["faults.powerLossAfterSmi=%d" % k])
                if r["rc"] != POWER_LOSS_EXIT:
                    r["problem"] = r["problem"] or "the cut run ended with %s" % r["rc"]
            for _ in range(share(args.fails) if preset.writes else 0):
                op, address = rng.choice(preset.writes)
                preset.trial("fail", preset.copy("trial"),
                             ['faults.fail=[{"op":"%s","start":%d,"length":1024}]' % (op, address)])
            for _ in range(share(args.kills)):
                machine = preset.copy("trial")
                preset.trial("kill", machine, ["timing.realMicrosPerRequest=100"], kill_after=rng.uniform(0.2, 3.0))
            restored = sum(1 for r in preset.results if not r["problem"])
            counts = {v: sum(1 for r in preset.results if r["verdict"] == v) for v in VERDICTS}
            print("%-20s %4d runs (N = %d SMIs, %d phases): %d restored (%.1f%%); verdicts %s" % (
                preset.label, len(preset.results), preset.smis, len(preset.phases), restored,
                100.0 * restored / max(1, len(preset.results)), ", ".join("%s %d" % (v, counts[v]) for v in VERDICTS)))
            for r in preset.results:
                if args.verbose or r["problem"]:
                    print("    %-4s %-60s cut rc %-4s verdict %-9s %s" % (
                        r["kind"], " ".join(r["settings"])[:60], r["rc"], r["verdict"], r["problem"] or "restored"))
                if r["problem"]:
                    print("      cut run:  " + r["cutOutput"].strip().replace("\n", "\n                ")[-600:])
                    print("      rerun:    " + r["output"].strip().replace("\n", "\n                ")[-900:])
            failed += len(preset.results) - restored
            totals["trials"] += len(preset.results)
            totals["restored"] += restored
            for v in VERDICTS:
                totals[v] += counts[v]
            shutil.rmtree(preset.dir) if not args.keep else None
        print("%-20s %4d runs: %d restored (%.1f%%); verdicts %s" % (
            "total", totals["trials"], totals["restored"], 100.0 * totals["restored"] / max(1, totals["trials"]),
            ", ".join("%s %d" % (v, totals[v]) for v in VERDICTS)))
        print("campaign: %d passed, %d failed" % (totals["restored"], failed))
    finally:
        if args.keep:
            print("work directory: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
