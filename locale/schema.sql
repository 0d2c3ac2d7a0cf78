-- The table of user-visible texts. One row per key and language, or per key, language and
-- country; a NULL CountryID serves every country of its language. In Description the two
-- characters backslash and n stand for a line break.
CREATE TABLE localize (
    ID          TEXT NOT NULL,
    GroupID     TEXT NOT NULL,
    LangID      TEXT NOT NULL,
    CountryID   TEXT,
    Description TEXT
);

-- Serves the lookup (group, key, language, country) and the list of a group's keys.
CREATE INDEX localize_lookup ON localize (GroupID, ID, LangID, CountryID);
