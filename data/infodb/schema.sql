-- The info database ZarvexWipe.db, made at build time beside the program.
-- The build tool runs these statements in order, then stores the one record
-- of MiscInfo with each column read from texts/<column>.txt.

-- Help texts: one column per topic, read from the first record only.
CREATE TABLE MiscInfo (
    ReadMe TEXT,
    DRWipe TEXT,
    FoldWipe TEXT,
    FileWipe TEXT,
    EULA TEXT,
    FAQ TEXT,
    CRInfo TEXT,
    RegSafe TEXT,
    CandD TEXT,
    RegPrivate TEXT,
    GenWipe TEXT,
    FreeWipe TEXT,
    stops TEXT
);

-- Scratch list of file endings for the file type selector. The first record
-- in natural (rowid) order is "ALL"; the rest is rewritten at every folder
-- click in file mode.
CREATE TABLE exts (
    extname TEXT
);

INSERT INTO exts (extname) VALUES ('ALL');
