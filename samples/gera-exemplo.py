#!/usr/bin/env python3
"""Writes samples/pratos-exemplo.txt, an export file of dishes from branch 0009 meant for the
demonstration destination (`imp40500 initdb --demo`, branch 0001).

The file is single-byte CP1252 text, every field ended by the byte 0xF8 ("ø"), lines ended by
CR LF: two header lines, a free line, the structure lines of the eight tables at their fixed
places (lines 4 to 11), a free line, the data marker "BASE DE DADOS" on line 13, then service
lines and data lines. Numbers use a decimal comma and dates are d/M/yyyy, as a pt_BR machine
writes them.

What the demonstration destination makes of it:
  P/100001 ARROZ BRANCO          exists there under the same name: updated, no error
  P/100002 FEIJÃO CARIOCA        new, standard and branch recipes
  P/100003 BIFE ACEBOLADO        new, a row in each of the six recipe tables
  P/100004 STROGONOFF DE FRANGO  unit BDJ unknown at the destination       (IDERRO position 1)
  P/100005 SALADA TROPICAL       recipe names product 000999, unknown      (IDERRO position 2)
  P/100006 FRANGO GRELHADO       service recipe under service 30, unpaired (IDERRO position 3)
  0009/000900 PUDIM DE LEITE     code held at 0001 as PUDIM DE LEITE CONDENSADO (position 4)
  0009/000901 MOUSSE DE CHOCOLATE  local dish held at 0001 under the same name: no error
  0009/000902 TORTA DE LIMÃO     new local dish
Services: 10 "Almoco" pairs with 0001's ALMOCO (same name but for case); 30 "LANCHE DA TARDE"
has no match there.
"""
import os
import sys

T = "\u00f8"  # the field terminator, byte 0xF8 in CP1252

STRUCTURE = {
    "PRATO": ["CDFILAUXPRAT", "CDPRATO", "CDFILIAL", "NMPRATO", "CDNVPRATO", "SGUNIDADE",
              "VRARREDTRANS", "DTULTATUPRAT", "CDSEGMER", "CDEXPRATO", "DTULTATURECE"],
    "RECEPADR": ["CDFILAUXPRAT", "CDPRATO", "CDPRODUTO", "SGUNIDADE", "QTPRODUTO"],
    "PRATPADR": ["CDFILAUXPRAT", "CDPRATO", "SGUNIDADE", "QTRENDIMENTO"],
    "RECEFILI": ["CDFILIAL", "CDFILAUXPRAT", "CDPRATO", "CDPRODUTO", "SGUNIDADE", "QTPRODUTO"],
    "PRATFILI": ["CDFILIAL", "CDFILAUXPRAT", "CDPRATO", "VRPRECO", "DTULTATU"],
    "SERVICO": ["CDSERVFILI", "NMSERVICO"],
    "RECESERV": ["CDFILIAL", "CDSERVFILI", "CDFILAUXPRAT", "CDPRATO", "CDPRODUTO", "SGUNIDADE",
                 "QTPRODUTO"],
    "PRATSERV": ["CDFILIAL", "CDSERVFILI", "CDFILAUXPRAT", "CDPRATO", "VRPRECO"],
}
# Lines 4 to 11, in this order: the reader takes each table's structure from its place.
STRUCTURE_ORDER = ["PRATO", "RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI", "SERVICO",
                   "RECESERV", "PRATSERV"]

SRC = "0009"


def line(*fields):
    return "".join(str(f) + T for f in fields)


def dish(aux, code, name, unit, arred="", upd="10/1/2024", seg="01", exp="", rec="12/3/2024"):
    return line("PRATO", aux, code, SRC, name, "1", unit, arred, upd, seg, exp or "EXP" + code, rec)


def build():
    out = [
        line("PRATO", "EXPORTAÇÃO DE PRATOS", "IMP40400"),
        line("MASCARA", "999.999"),
        line("ORIGEM", SRC, "COZINHA DA FILIAL DE ORIGEM", "15/3/2024"),
    ]
    for table in STRUCTURE_ORDER:
        out.append(line(table, *STRUCTURE[table]))
    out.append(line("FIM DA ESTRUTURA"))
    out.append(line("BASE DE DADOS"))
    assert len(out) == 13 and out[12] == "BASE DE DADOS" + T

    out += [line("SERVICO", "10", "Almoco"), line("SERVICO", "30", "LANCHE DA TARDE")]

    # P/100001: exists at the destination under the same name.
    out += [
        dish("P", "100001", "ARROZ BRANCO", "KG", "0,05"),
        line("RECEPADR", "P", "100001", "000101", "KG", "0,100"),
        line("RECEPADR", "P", "100001", "000105", "ML", "5"),
        line("RECEPADR", "P", "100001", "000106", "G", "2,5"),
        line("PRATPADR", "P", "100001", "KG", "1"),
        line("RECESERV", SRC, "10", "P", "100001", "000101", "KG", "0,120"),
        line("PRATSERV", SRC, "10", "P", "100001", "3,50"),
    ]
    # P/100002: new, standard and branch recipes.
    out += [
        dish("P", "100002", "FEIJÃO CARIOCA", "KG", "0,10", "2/2/2024"),
        line("RECEPADR", "P", "100002", "000102", "KG", "0,080"),
        line("RECEPADR", "P", "100002", "000106", "G", "1,5"),
        line("RECEPADR", "P", "100002", "000108", "G", "3"),
        line("RECEPADR", "P", "100002", "000107", "G", "10"),
        line("PRATPADR", "P", "100002", "KG", "1,2"),
        line("RECEFILI", SRC, "P", "100002", "000102", "KG", "0,085"),
        line("PRATFILI", SRC, "P", "100002", "4,90", "1/3/2024"),
    ]
    # P/100003: a row in each of the six recipe tables.
    out += [
        dish("P", "100003", "BIFE ACEBOLADO", "PORC", "", "28/2/2024"),
        line("RECEPADR", "P", "100003", "000103", "KG", "0,150"),
        line("RECEPADR", "P", "100003", "000107", "KG", "0,050"),
        line("PRATPADR", "P", "100003", "PORC", "1"),
        line("RECEFILI", SRC, "P", "100003", "000103", "KG", "0,160"),
        line("PRATFILI", SRC, "P", "100003", "18,90", "1/3/2024"),
        line("RECESERV", SRC, "10", "P", "100003", "000103", "KG", "0,180"),
        line("PRATSERV", SRC, "10", "P", "100003", "21,00"),
    ]
    # P/100004: unit BDJ unknown at the destination (the dish line itself).
    out += [
        dish("P", "100004", "STROGONOFF DE FRANGO", "BDJ", "", "5/3/2024"),
        line("RECEPADR", "P", "100004", "000104", "KG", "0,140"),
        line("RECEPADR", "P", "100004", "000114", "L", "0,030"),
        line("PRATPADR", "P", "100004", "PORC", "1"),
    ]
    # P/100005: a recipe row names a product the destination lacks.
    out += [
        dish("P", "100005", "SALADA TROPICAL", "PORC", "", "6/3/2024"),
        line("RECEPADR", "P", "100005", "000109", "KG", "0,080"),
        line("PRATPADR", "P", "100005", "PORC", "1"),
        line("RECEPADR", "P", "100005", "000999", "KG", "0,050"),
    ]
    # P/100006: a service recipe under service 30, which pairs with nothing.
    out += [
        dish("P", "100006", "FRANGO GRELHADO", "PORC", "", "7/3/2024"),
        line("RECEPADR", "P", "100006", "000104", "KG", "0,180"),
        line("PRATSERV", SRC, "30", "P", "100006", "15,00"),
        line("RECESERV", SRC, "30", "P", "100006", "000104", "KG", "0,200"),
    ]
    # 0009/000900: the code is held at 0001 by another dish.
    out += [
        dish(SRC, "000900", "PUDIM DE LEITE", "PORC", "", "8/3/2024"),
        line("RECEFILI", SRC, SRC, "000900", "000110", "L", "0,250"),
        line("RECEFILI", SRC, SRC, "000900", "000112", "UN", "3"),
        line("PRATFILI", SRC, SRC, "000900", "6,50", "8/3/2024"),
    ]
    # 0009/000901: held at 0001 under the same name.
    out += [
        dish(SRC, "000901", "MOUSSE DE CHOCOLATE", "PORC", "", "9/3/2024"),
        line("RECEFILI", SRC, SRC, "000901", "000114", "L", "0,100"),
        line("RECEFILI", SRC, SRC, "000901", "000111", "G", "40"),
        line("PRATFILI", SRC, SRC, "000901", "7,25", "9/3/2024"),
    ]
    # 0009/000902: a new local dish.
    out += [
        dish(SRC, "000902", "TORTA DE LIMÃO", "PORC", "", "11/3/2024"),
        line("RECEFILI", SRC, SRC, "000902", "000111", "G", "60"),
        line("RECEFILI", SRC, SRC, "000902", "000112", "UN", "2"),
        line("PRATFILI", SRC, SRC, "000902", "8,00", "11/3/2024"),
    ]
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "pratos-exemplo.txt")
    data = ("\r\n".join(build()) + "\r\n").encode("cp1252")
    with open(target, "wb") as f:
        f.write(data)
    print(f"{target}: {len(data)} bytes")


if __name__ == "__main__":
    main()
