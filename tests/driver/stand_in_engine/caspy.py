"""Stand-in caspy: Savecase reads a toy case file into tables shaped like the engine's."""
import toy_case

_OWNER4 = [1, 0, 0, 0]
_OWNPCT4 = [100.0, 0.0, 0.0, 0.0]

_TRANSFORMER_COLUMNS = ["BUSNUM", "CKT", "CM", "CNXA", "CW", "CZ", "IDE", "MAG1", "MAG2", "METBUS", "NOD", "NOMV",
                        "NUM", "OWNER", "OWNPCT", "RATINGS", "RX", "SBASE", "STAT", "TABLE", "TRNAME", "VECGRP",
                        "WIND", "XFRCMP", "ZCOD", "CONBUS", "NTAPS", "CNTL", "ANG", "RMAX", "RMIN", "VMAX", "VMIN"]
_EMPTY_TABLES = {
    "pssfsh": ["NUM", "ID", "STATUS", "SHUNT"],
    "psswsh": ["NUM", "ID", "NI", "MODSW", "SWREM", "SWNOD", "STAT", "ADJM", "SI", "BI", "VSWHI", "VSWLO", "BINIT",
               "RMPCT", "SWNAME"],
    "psslod": ["NUM", "ID", "STATUS", "AREA", "ZONE", "OWNER", "LDSCALE", "LDINT", "DGENM", "LOAD", "DGENPQ", "LDNAME"],
    "pssind": ["NUM", "ID", "STATUS", "SCODE", "DCODE", "AREA", "ZONE", "OWNER", "TCODE", "BCODE", "PCODE", "MBASE",
               "RATEKV", "PSET", "H", "A", "B", "D", "E", "RA", "XA", "XM", "R1", "X1", "R2", "X2", "X3", "E1", "SE1",
               "E2", "SE2", "IA1", "IA2", "IAM", "IMNAME"],
}


def _table(rows, columns):
    table = {key: tuple(make(row) for row in rows) for key, make in columns.items()}
    table["IERR"] = 0
    return table


class Savecase:
    def __init__(self, path):
        case = toy_case.read_case(path)
        buses = [b for b in case["buses"] if b["NUM"] < 1000000]
        self.pssbus = _table(buses, {
            "NUM": lambda b: b["NUM"], "IDE": lambda b: 1, "AREA": lambda b: 1, "ZONE": lambda b: 1,
            "OWNER": lambda b: 1, "BASKV": lambda b: b["BASKV"], "VM": lambda b: 1.0, "VA": lambda b: 0.0,
            "NMAXV": lambda b: 1.1, "NMINV": lambda b: 0.9, "EMAXV": lambda b: 1.1, "EMINV": lambda b: 0.9,
            "NAME": lambda b: b["NAME"]})
        self.casbrn = _table(case["branches"], {
            "FRMBUS": lambda r: r["FRMBUS"], "TOBUS": lambda r: r["TOBUS"], "CKT": lambda r: r["CKT"],
            "STAT": lambda r: 1, "METBUS": lambda r: 0, "RX": lambda r: complex(0.001, 0.01), "B": lambda r: 0.0,
            "GBI": lambda r: 0j, "GBJ": lambda r: 0j, "LINLEN": lambda r: 1.0, "BRNAME": lambda r: ""})
        self.casbrn["OWNER"] = [list(_OWNER4) for _ in case["branches"]]
        self.casbrn["OWNPCT"] = [list(_OWNPCT4) for _ in case["branches"]]
        self.casbrn["RATINGS"] = [[100.0] * 12 for _ in case["branches"]]
        self.cas_nbrn = len(case["branches"])
        self.castrn = {key: [] for key in _TRANSFORMER_COLUMNS}
        self.castrn["IERR"] = 0
        self.cas_ntrn = 0
        self.pssgen = _table(case["machines"], {
            "NUM": lambda m: m["NUM"], "IDE": lambda m: m["ID"], "IREG": lambda m: 0, "NREG": lambda m: 0,
            "VS": lambda m: 1.0, "RMPCT": lambda m: 100.0, "STAT": lambda m: 1, "WMOD": lambda m: 0,
            "BASLOD": lambda m: 0, "PG": lambda m: 0.5, "QG": lambda m: 0.0, "QT": lambda m: 0.3,
            "QB": lambda m: -0.3, "PT": lambda m: 1.0, "PB": lambda m: 0.0, "MBASE": lambda m: 100.0,
            "ZSORCE": lambda m: complex(0, 0.2), "XTRAN": lambda m: 0j, "GTAP": lambda m: 1.0,
            "WPF": lambda m: 1.0, "MCNAME": lambda m: ""})
        self.pssgen["OWNER"] = [list(_OWNER4) for _ in case["machines"]]
        self.pssgen["OWNPCT"] = [list(_OWNPCT4) for _ in case["machines"]]
        for name, columns in _EMPTY_TABLES.items():
            table = {key: () for key in columns}
            table["IERR"] = 0
            setattr(self, name, table)
