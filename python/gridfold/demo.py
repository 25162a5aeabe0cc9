"""The demo study: two main cases of the IEEE 118-bus network and five plants to connect.

`write_demo_study(folder)` copies the main cases shipped with the package, builds the small
cases through the embedded engine's data calls (each plant as a developer would model it:
point of interconnection, gen-tie line, main transformer, collector equivalent, step-up
transformer, machines, shunts and station loads) and writes the workbook. The study is
meant to show every outcome: plants that solve, a plant whose bus numbers collide with the
main case and are renumbered, and a plant too large for its connecting bus that does not
solve.
"""
import contextlib
import io
import os
import shutil

import gridfold
from gridfold.files import written_whole
from gridfold.workbook import write_workbook

WORKBOOK = "gridfold_demo.xlsx"
MAIN_FOLDER = "main_cases"
SMALL_FOLDER = "small_cases"
RESULTS_FOLDER = "results"
MAIN_CASES = ("ieee118_peak.sav", "ieee118_light.sav")

#: Folder of the main cases installed with the package (examples/ of the source tree).
EXAMPLES_PATH = os.path.join(os.path.dirname(os.path.abspath(gridfold.__file__)), "examples")

SBASE = 100.0


def embedded_psspy():
    """The embedded engine's psspy."""
    return gridfold.embedded_engine()[0]


def embedded_caspy():
    """The embedded engine's caspy (case data objects of saved case files)."""
    return gridfold.embedded_engine()[1]


class SmallCaseBuilder:
    """Builds one small case in the embedded engine; every call is checked.

    Impedances are given in ohms or percent on the equipment's own rating, the way a data
    sheet gives them, and converted here to what the engine's data calls take.
    """

    def __init__(self, psspy, name):
        self.psspy = psspy
        self.name = name
        with contextlib.redirect_stdout(io.StringIO()):  # the engine's start-up line
            self._check("psseinit", psspy.psseinit(buses=1000))
        psspy.progress_output(islct=6)

    def _check(self, call, result):
        ierr = result[0] if isinstance(result, (tuple, list)) else result
        if ierr != 0:
            raise RuntimeError(f"demo small case {self.name}: {call} returned error code {ierr}")

    def bus(self, number, name, base_kv, ide=1, vm=1.0, va=0.0):
        self._check(f"bus_data_4 {number}", self.psspy.bus_data_4(
            ibus=number, inode=0, intgar1=ide, intgar2=1, intgar3=1, intgar4=1, realar1=base_kv, realar2=vm,
            realar3=va, realar4=1.1, realar5=0.9, realar6=1.1, realar7=0.9, name=name))

    def line(self, from_bus, to_bus, kv, km, r_ohm_km, x_ohm_km, b_us_km, rating_mva, name, ckt="1"):
        z_base = kv * kv / SBASE
        ratings = {f"ratings{k}": rating_mva for k in (1, 2, 3)}
        self._check(f"branch_data_3 {from_bus}-{to_bus}", self.psspy.branch_data_3(
            ibus=from_bus, jbus=to_bus, ckt=ckt, intgar1=1, intgar2=from_bus,
            realar1=r_ohm_km * km / z_base, realar2=x_ohm_km * km / z_base, realar3=b_us_km * 1e-6 * km * z_base,
            realar8=km, namear=name, **ratings))

    def collector(self, from_bus, to_bus, r_pu, x_pu, b_pu, rating_mva, name):
        """Equivalent of a collector system, already reduced to per unit on the system base."""
        ratings = {f"ratings{k}": rating_mva for k in (1, 2, 3)}
        self._check(f"branch_data_3 {from_bus}-{to_bus}", self.psspy.branch_data_3(
            ibus=from_bus, jbus=to_bus, ckt="1", intgar1=1, intgar2=from_bus,
            realar1=r_pu, realar2=x_pu, realar3=b_pu, namear=name, **ratings))

    def transformer(self, hv_bus, lv_bus, mva, z_pct, x_over_r, name, vector_group="YNd1", taps=False):
        """Two-winding transformer, impedance in percent on its own rating."""
        z = z_pct / 100.0
        r = z / (1.0 + x_over_r ** 2) ** 0.5
        x = r * x_over_r
        # On-load tap changer on the high-voltage winding: 33 positions over 0.9-1.1, holding the
        # medium-voltage bus within 0.99-1.01 pu.
        control = dict(intgar7=33, intgar10=lv_bus, intgar13=1, realari15=1.1, realari16=0.9, realari17=1.01,
                       realari18=0.99) if taps else {}
        ratings = {f"ratings{k}": mva for k in (1, 2, 3)}
        self._check(f"two_winding_data_6 {hv_bus}-{lv_bus}", self.psspy.two_winding_data_6(
            ibus=hv_bus, jbus=lv_bus, ckt="1", intgar1=1, intgar2=hv_bus, intgar14=1, intgar15=2, intgar16=1,
            realari1=r, realari2=x, realari3=mva, realari4=1.0, realari7=1.0, namear=name, vgrpar=vector_group,
            **control, **ratings))

    def three_winding_transformer(self, buses, mva, z_pct, name, vector_group="YNyn0d1"):
        """Three-winding transformer; `mva` and `z_pct` are (1-2, 2-3, 3-1) on their own bases."""
        ibus, jbus, kbus = buses
        x_over_r = 40.0
        parts = []
        for pct in z_pct:
            r = pct / 100.0 / (1.0 + x_over_r ** 2) ** 0.5
            parts += [r, r * x_over_r]
        self._check(f"three_wnd_imped_data_4 {ibus}-{jbus}-{kbus}", self.psspy.three_wnd_imped_data_4(
            ibus=ibus, jbus=jbus, kbus=kbus, ckt="1", intgar5=1, intgar6=2, intgar7=1, intgar8=1, intgar9=ibus,
            realari1=parts[0], realari2=parts[1], realari3=parts[2], realari4=parts[3], realari5=parts[4],
            realari6=parts[5], realari7=mva[0], realari8=mva[1], realari9=mva[2], namear=name,
            vgrpar=vector_group))
        for winding, rating in zip((1, 2, 3), (mva[0], mva[0], mva[2])):
            ratings = {f"ratings{k}": rating for k in (1, 2, 3)}
            self._check(f"three_wnd_winding_data_5 {ibus}-{jbus}-{kbus} winding {winding}",
                        self.psspy.three_wnd_winding_data_5(ibus=ibus, jbus=jbus, kbus=kbus, ckt="1", warg=winding,
                                                            realari1=1.0, **ratings))

    def machine(self, bus, mw, mvar_max, mvar_min, mw_min, mbase, vs=1.0, name="", ident="1", pg=None):
        self._check(f"plant_data_4 {bus}", self.psspy.plant_data_4(ibus=bus, inode=0, intgar1=0, realar1=vs,
                                                                   realar2=100.0))
        self._check(f"machine_data_4 {bus}", self.psspy.machine_data_4(
            ibus=bus, id=ident, intgar1=1, intgar6=0, realar1=mw if pg is None else pg, realar2=0.0,
            realar3=mvar_max, realar4=mvar_min, realar5=mw, realar6=mw_min, realar7=mbase, realar8=0.0,
            realar9=0.25))

    def load(self, bus, mw, mvar, ident="1"):
        self._check(f"load_data_6 {bus}", self.psspy.load_data_6(ibus=bus, id=ident, intgar1=1, realar1=mw,
                                                                 realar2=mvar))

    def fixed_shunt(self, bus, mvar, ident="1"):
        self._check(f"shunt_data {bus}", self.psspy.shunt_data(ibus=bus, id=ident, intgar1=1, realar1=0.0,
                                                               realar2=mvar))

    def capacitor_bank(self, bus, steps, mvar_per_step, v_low=0.98, v_high=1.04, ident="1"):
        """Switched capacitor bank: one block of `steps` equal steps, voltage controlled."""
        self._check(f"switched_shunt_data_5 {bus}", self.psspy.switched_shunt_data_5(
            ibus=bus, id=ident, intgar1=steps, intgar9=1, intgar12=1, intgar14=1, realar1=mvar_per_step,
            realar9=v_high, realar10=v_low, realar11=0.0, realar12=100.0))

    def induction_generator(self, bus, mw, mbase, ident="1"):
        """Fixed-speed (type 1) wind turbines as one double-cage induction generator."""
        self._check(f"induction_machine_data {bus}", self.psspy.induction_machine_data(
            ibus=bus, id=ident, intgar1=1, intgar2=2, intgar3=2, intgar7=1, intgar8=1, intgar9=2,
            realar1=mbase, realar3=mw, realar4=3.0, realar9=0.005, realar10=0.1, realar11=3.5, realar12=0.01,
            realar13=0.12, realar14=0.03, realar15=0.08))

    def save(self, path):
        self._check(f"save {path}", self.psspy.save(path))


# Conductor data of a 138 kV gen-tie (795 kcmil ACSR, single circuit): ohm/km and uS/km.
_GEN_TIE = dict(r_ohm_km=0.073, x_ohm_km=0.38, b_us_km=3.0)


def _radial_plant(b, poi, first_bus, prefix, tie_km, main_xfmr, collector, unit):
    """A plant of inverters joined at bus `poi` through a 138 kV gen-tie: its HV bus `first_bus`,
    a tap-changing main transformer (MVA, Z %, X/R) to the 34.5 kV MV bus, a collector
    equivalent (R, X, B pu, MVA) to the collector bus, and a unit transformer to the unit bus.
    `unit` is (bus name, kV, transformer name, transformer MVA); the unit transformer has Z 6 %
    and X/R 10."""
    hv, mv, col, unit_bus = range(first_bus, first_bus + 4)
    unit_name, unit_kv, unit_xfmr, unit_mva = unit
    b.bus(poi, f"POI {poi}", 138.0)
    b.bus(hv, f"{prefix} HV", 138.0)
    b.bus(mv, f"{prefix} MV", 34.5)
    b.bus(col, f"{prefix} COL", 34.5)
    b.bus(unit_bus, f"{prefix} {unit_name}", unit_kv, ide=2)
    b.line(poi, hv, 138.0, tie_km, rating_mva=220.0, name=f"{prefix} GEN-TIE", **_GEN_TIE)
    b.transformer(hv, mv, *main_xfmr, f"{prefix} MAIN XFMR", taps=True)
    b.collector(mv, col, *collector, f"{prefix} COLLECTOR EQ")
    b.transformer(col, unit_bus, unit_mva, 6.0, 10.0, f"{prefix} {unit_xfmr}", vector_group="Dyn11")


def build_solar(b):
    """solar_a: 100 MW solar plant joined at bus 49."""
    _radial_plant(b, 49, 2001, "SOLAR A", tie_km=8.0, main_xfmr=(110.0, 10.0, 40.0),
                  collector=(0.008, 0.012, 0.03, 120.0), unit=("INV", 0.63, "GSU EQ", 110.0))
    b.machine(2004, 100.0, 33.0, -33.0, 0.0, 110.0, name="SOLAR A PV")
    b.capacitor_bank(2002, 2, 10.0)
    b.load(2002, 0.3, 0.1)


def build_wind(b):
    """wind_b: 120 MW wind plant joined at bus 80, with a three-winding main transformer."""
    b.bus(80, "POI 80", 138.0)
    b.bus(3001, "WIND B HV", 138.0)
    b.bus(3002, "WIND B MV", 34.5)
    b.bus(3003, "WIND B TERT", 13.8)
    b.bus(3004, "WIND B COL1", 34.5)
    b.bus(3005, "WIND B WTG4", 0.69, ide=2)
    b.bus(3006, "WIND B COL2", 34.5)
    b.bus(3007, "WIND B WTG1", 0.69)
    b.line(80, 3001, 138.0, 12.0, rating_mva=220.0, name="WIND B GEN-TIE", **_GEN_TIE)
    b.three_winding_transformer((3001, 3002, 3003), (140.0, 40.0, 40.0), (11.0, 7.0, 12.0), "WIND B MAIN XFMR")
    b.collector(3002, 3004, 0.010, 0.015, 0.025, 120.0, "WIND B COLLECTOR 1 EQ")
    b.transformer(3004, 3005, 110.0, 6.0, 10.0, "WIND B GSU EQ", vector_group="Dyn11")
    b.machine(3005, 100.0, 33.0, -33.0, 0.0, 110.0, name="WIND B TYPE 4")
    b.collector(3002, 3006, 0.020, 0.025, 0.006, 30.0, "WIND B COLLECTOR 2 EQ")
    b.transformer(3006, 3007, 25.0, 6.0, 10.0, "WIND B GSU2 EQ", vector_group="Dyn11")
    b.induction_generator(3007, 20.0, 25.0)
    b.fixed_shunt(3003, 6.0)
    b.load(3003, 0.4, 0.15)


def build_storage(b):
    """storage_c: 50 MW battery storage joined at bus 100."""
    _radial_plant(b, 100, 4001, "BESS C", tie_km=5.0, main_xfmr=(60.0, 9.0, 35.0),
                  collector=(0.006, 0.008, 0.01, 70.0), unit=("PCS", 0.48, "PCS XFMR EQ", 60.0))
    b.machine(4004, 50.0, 25.0, -25.0, -50.0, 60.0, pg=40.0, name="BESS C")
    b.load(4002, 0.8, 0.3)


def build_too_large(b):
    """pumped_e: 600 MW pumped-storage plant on bus 117, which has one 138 kV line to the grid.

    Pumping draws 600 MW through that line: more than it can carry, so the case does not
    solve once the pump motor bus is brought back.
    """
    b.bus(117, "POI 117", 138.0)
    b.bus(5001, "PUMPED E HV", 138.0)
    b.bus(5002, "PUMPED E GEN", 18.0, ide=2)
    b.line(117, 5001, 138.0, 15.0, rating_mva=400.0, name="PUMPED E GEN-TIE", **_GEN_TIE)
    b.transformer(5001, 5002, 700.0, 14.0, 60.0, "PUMPED E GSU")
    b.machine(5002, 600.0, 250.0, -200.0, 0.0, 700.0, pg=0.0, name="PUMPED E UNIT")
    b.load(5002, 600.0, 120.0)


def build_colliding(b):
    """solar_d: 20 MW solar plant at bus 12 whose own buses 101-103 are bus numbers of the main case."""
    b.bus(12, "POI 12", 138.0)
    b.bus(101, "SOLAR D HV", 138.0)
    b.bus(102, "SOLAR D MV", 34.5)
    b.bus(103, "SOLAR D INV", 0.63, ide=2)
    b.line(12, 101, 138.0, 3.0, rating_mva=220.0, name="SOLAR D GEN-TIE", **_GEN_TIE)
    b.transformer(101, 102, 25.0, 8.0, 30.0, "SOLAR D MAIN XFMR")
    b.transformer(102, 103, 25.0, 6.0, 10.0, "SOLAR D GSU EQ", vector_group="Dyn11")
    b.machine(103, 20.0, 7.0, -7.0, 0.0, 25.0, name="SOLAR D PV")
    b.fixed_shunt(102, 3.0)


#: The small cases in run order: (file name, connecting bus, builder).
SMALL_CASES = (
    ("solar_a.sav", 49, build_solar),
    ("wind_b.sav", 80, build_wind),
    ("storage_c.sav", 100, build_storage),
    ("pumped_e.sav", 117, build_too_large),
    ("solar_d.sav", 12, build_colliding),
)


def _copy_whole(source, target):
    with written_whole(target) as temporary:
        shutil.copyfile(source, temporary)


def write_demo_study(folder):
    """Write the demo study into `folder` (created when missing) and return its workbook's path."""
    missing = [name for name in MAIN_CASES if not os.path.isfile(os.path.join(EXAMPLES_PATH, name))]
    if missing:
        raise FileNotFoundError(f"main cases of the demo missing from {EXAMPLES_PATH}: {', '.join(missing)}")
    folder = os.path.abspath(folder)
    for sub in (MAIN_FOLDER, SMALL_FOLDER):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    for name in MAIN_CASES:
        _copy_whole(os.path.join(EXAMPLES_PATH, name), os.path.join(folder, MAIN_FOLDER, name))
    psspy = embedded_psspy()
    for name, _, build in SMALL_CASES:
        builder = SmallCaseBuilder(psspy, name)
        build(builder)
        builder.save(os.path.join(folder, SMALL_FOLDER, name))
    workbook = os.path.join(folder, WORKBOOK)
    write_workbook(
        workbook,
        main_rows=[("yes", MAIN_FOLDER, name) for name in MAIN_CASES],
        case_rows=[("yes", SMALL_FOLDER, name, bus) for name, bus, _ in SMALL_CASES],
        results_folder=RESULTS_FOLDER,
    )
    return workbook


_OUTPUT_GUIDE = """\
  {results}/<small case>/<main case>/     one folder for each small case and main case:
      <main>_renumber_map.txt, .json        small-case buses renumbered (old -> new)
      <main>_status_<small>.txt             engine code of every element added (0 = accepted)
      <main>_added_<small>.sav              main case with the small case added
      <main>_added_<kind>_<small>           the same after each kind of element
      <main>_oos_<small>.sav                small case out of service
      <main>_solved_<small>_0.sav           base case solved, small case out of service
      <main>_solved_<small>_<k>.sav         solved with connections 1..k back
      <main>_solved_<small>_final_solved.sav  solved with the whole small case
      <main>_unsolved_lf.txt                how far a small case that did not solve came
      progress.txt                          the engine's progress output
  {results}/run_record.json                what the run did, pair by pair: outcome, elements, connections
  {results}/<main>_solved.sav              final solved main case with every small case
  {results}/<main>_unsolved_lf.txt         every small case of <main> that did not solve"""


def describe_outputs(result):
    """Where every output of a study run lies, for the console."""
    folder = os.path.dirname(result.workbook)
    lines = [f"study folder: {folder}",
             f"  workbook          {os.path.relpath(result.workbook, folder)}",
             f"  summary           {os.path.relpath(result.summary_csv, folder)}"]
    with contextlib.suppress(OSError):
        for sub, what in ((MAIN_FOLDER, "main cases"), (SMALL_FOLDER, "small cases")):
            names = sorted(os.listdir(os.path.join(folder, sub)))
            lines.append(f"  {what:<17} {sub}/: {', '.join(names)}")
    lines.append("outputs of the run:")
    lines.append(_OUTPUT_GUIDE.format(results=RESULTS_FOLDER))
    results = os.path.join(folder, RESULTS_FOLDER)
    finals = sorted(n for n in os.listdir(results) if n.endswith("_solved.sav")) if os.path.isdir(results) else []
    logs = sorted(n for n in os.listdir(results) if n.endswith("_unsolved_lf.txt")) if os.path.isdir(results) else []
    if finals:
        lines.append("final solved main cases: " + ", ".join(f"{RESULTS_FOLDER}/{n}" for n in finals))
    if logs:
        lines.append("unsolved logs: " + ", ".join(f"{RESULTS_FOLDER}/{n}" for n in logs))
    return "\n".join(lines)
