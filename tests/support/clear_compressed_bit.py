#!/usr/bin/python3
"""Clears the "compressed" bit (1) of an MSI package's summary Word Count, so
that Windows Installer reads every file without its own Compressed attribute
from the package's folder. wixl always sets the bit; the tests need a package
without it.

    clear_compressed_bit.py PACKAGE.msi

Runs with Debian's Python, which has libmsi's GObject bindings (python3-gi,
gir1.2-libmsi-1.0)."""
import sys

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

COMPRESSED = 0x2

database = Libmsi.Database.new(sys.argv[1], Libmsi.DbFlags.TRANSACT, None)
summary = Libmsi.SummaryInfo.new(database, 1)
word_count = summary.get_int(Libmsi.Property.SOURCE)
summary.set_int(Libmsi.Property.SOURCE, word_count & ~COMPRESSED)
summary.save(database)
database.commit()
