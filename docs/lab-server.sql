-- The lab's database for Kelvaro stations: every station's tests in one PostgreSQL database.
-- Run once, as a PostgreSQL superuser, with psql (PostgreSQL 13 or newer); see ADMIN.md:
--   psql -X -v ON_ERROR_STOP=1 -d postgres -f lab-server.sql
--   psql -X -v ON_ERROR_STOP=1 -d postgres -v lab_database=outro_nome -f lab-server.sql
-- It makes the roles (cluster-wide), the database, owned by kelvaro_admin, and its schema
-- "kelvaro". Nothing here holds a password: the logins are made afterwards, one per station.

\set ON_ERROR_STOP on
\if :{?lab_database}
\else
  \set lab_database kelvaro
\endif

-- Owns every table; a person of the lab's IT becomes one with GRANT kelvaro_admin TO <login>.
CREATE ROLE kelvaro_admin NOLOGIN;
-- Every station's login is a member: it inserts its own tests and reads everyone's.
CREATE ROLE kelvaro_station NOLOGIN;
-- Desks (a coach's or engineer's computer): read only.
CREATE ROLE kelvaro_desk NOLOGIN;

CREATE DATABASE :"lab_database" OWNER kelvaro_admin ENCODING 'UTF8' TEMPLATE template0;
REVOKE ALL ON DATABASE :"lab_database" FROM PUBLIC;
GRANT CONNECT ON DATABASE :"lab_database" TO kelvaro_station, kelvaro_desk;
ALTER DATABASE :"lab_database" SET search_path = kelvaro;

\connect :"lab_database"

BEGIN;

REVOKE CREATE ON SCHEMA public FROM PUBLIC;
CREATE SCHEMA kelvaro AUTHORIZATION kelvaro_admin;
-- Everything below belongs to kelvaro_admin, not to the superuser applying this file (until
-- the end of this transaction only).
SET LOCAL ROLE kelvaro_admin;
SET LOCAL search_path = kelvaro;

-- What this database's layout is: a station refuses a server older than it knows and only
-- reads from a newer one.
CREATE TABLE schema_version (
    version integer PRIMARY KEY CHECK (version > 0),
    applied timestamptz NOT NULL DEFAULT now()
);
INSERT INTO schema_version (version) VALUES (1);

-- One row per station login, written by the station itself the first time it sends a test.
CREATE TABLE stations (
    login name PRIMARY KEY DEFAULT session_user,
    station_id uuid NOT NULL,  -- the id the station keeps in its own library
    host text NOT NULL,        -- the computer's name when that id was made
    registered timestamptz NOT NULL DEFAULT now()
);

-- A test, as the station's library keeps it. Arrays hold plates 1 to 4 in order.
CREATE TABLE runs (
    run_id uuid PRIMARY KEY CHECK (run_id <> '00000000-0000-0000-0000-000000000000'),
    station name NOT NULL DEFAULT session_user REFERENCES stations (login),
    started timestamptz NOT NULL,                 -- by the station's clock
    received timestamptz NOT NULL DEFAULT now(),  -- by this server's clock
    frequency integer NOT NULL CHECK (frequency > 0),
    active boolean[] NOT NULL CHECK (cardinality(active) = 4),
    units text[] NOT NULL CHECK (cardinality(units) = 4),
    -- Load = (reading - zero_offset) / calibration_index - tare, per plate.
    zero_offset double precision[] NOT NULL CHECK (cardinality(zero_offset) = 4),
    calibration_index double precision[] NOT NULL CHECK (cardinality(calibration_index) = 4),
    tare double precision[] NOT NULL CHECK (cardinality(tare) = 4),
    test_number bigint NOT NULL CHECK (test_number >= 0),
    file_name text NOT NULL,
    file_sha256 text NOT NULL CHECK (file_sha256 ~ '^[0-9a-f]{64}$'),
    imported boolean NOT NULL,  -- read from a test file rather than measured by the station
    decimal_separator text NOT NULL CHECK (decimal_separator IN ('', ',', '.')),  -- imported
    -- The whole run's figures: samples, then the peak and mean load of the plates' total and
    -- of each plate (NULL where there is none, e.g. an idle plate).
    samples integer NOT NULL CHECK (samples >= 0),
    total_peak double precision,
    total_mean double precision,
    plate_peak double precision[] NOT NULL CHECK (cardinality(plate_peak) = 4),
    plate_mean double precision[] NOT NULL CHECK (cardinality(plate_mean) = 4)
);
CREATE INDEX runs_started ON runs (started);
CREATE INDEX runs_station ON runs (station);
CREATE INDEX runs_test_number ON runs (test_number);

-- A run's readings, apart so that a search never pages through them: the station's raw
-- readings ('raw'), or an imported test's loads ('loads'), in the station's compressed format.
CREATE TABLE readings (
    run_id uuid PRIMARY KEY REFERENCES runs (run_id) ON DELETE CASCADE,
    kind text NOT NULL CHECK (kind IN ('raw', 'loads')),
    data bytea NOT NULL
);
-- Compressed already: the server would only spend time trying again.
ALTER TABLE readings ALTER COLUMN data SET STORAGE EXTERNAL;

-- Avaliado, Protocolo and Observações of a run, never changed in place: an edit is a new row,
-- and the row that arrived last is the run's. The *_key columns are the station's search
-- keys (lower case, without accents). Only the station that measured a run adds versions to
-- it, so `edited` always comes from one clock; the same edit sent twice is one row.
CREATE TABLE metadata (
    run_id uuid NOT NULL REFERENCES runs (run_id) ON DELETE CASCADE,
    edited timestamptz NOT NULL,  -- by the station's clock
    revision bigint GENERATED ALWAYS AS IDENTITY UNIQUE,
    station name NOT NULL DEFAULT session_user,
    received timestamptz NOT NULL DEFAULT now(),
    evaluated text NOT NULL,
    protocol text NOT NULL,
    notes text NOT NULL,
    evaluated_key text NOT NULL,
    protocol_key text NOT NULL,
    notes_key text NOT NULL,
    PRIMARY KEY (run_id, edited)
);
CREATE INDEX metadata_newest ON metadata (run_id, revision DESC);

-- Every test with its newest texts: what a desk or a station searches.
CREATE VIEW tests AS
SELECT r.*, m.evaluated, m.protocol, m.notes, m.evaluated_key, m.protocol_key, m.notes_key,
       m.edited
FROM runs r
LEFT JOIN LATERAL (
    SELECT * FROM metadata v WHERE v.run_id = r.run_id ORDER BY v.revision DESC LIMIT 1
) m ON true;

-- A name compared whatever its case and accents, for finding one person's tests. Upper and
-- lower case are both listed because lower() leaves accented letters alone on a "C" server.
CREATE FUNCTION fold(text) RETURNS text
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
AS $$
    SELECT lower(btrim(translate($1,
        'ÁÀÂÃÄÅÉÈÊËÍÌÎÏÓÒÔÕÖÚÙÛÜÇÑÝáàâãäåéèêëíìîïóòôõöúùûüçñýÿ',
        'AAAAAAEEEEIIIIOOOOOUUUUCNYaaaaaaeeeeiiiiooooouuuucnyy')))
$$;

-- Erases every test that any version of its texts says is of `person` ("Avaliado"), with its
-- readings and every version of its texts; returns how many tests. For a person's right to
-- erasure (LGPD, GDPR). Only kelvaro_admin (and superusers) may run it.
CREATE FUNCTION erase_person(person text) RETURNS integer
LANGUAGE plpgsql SET search_path = kelvaro, pg_temp
AS $$
DECLARE
    erased integer;
BEGIN
    IF coalesce(fold(person), '') = '' THEN
        RAISE EXCEPTION 'erase_person: no name given' USING ERRCODE = '22023';
    END IF;
    DELETE FROM runs r
    WHERE EXISTS (SELECT 1 FROM metadata m
                  WHERE m.run_id = r.run_id AND fold(m.evaluated) = fold(person));
    GET DIAGNOSTICS erased = ROW_COUNT;
    RETURN erased;
END
$$;
REVOKE EXECUTE ON FUNCTION erase_person(text) FROM PUBLIC;

-- Row-level security: a station inserts rows of its own login only and reads every row; no
-- one but the owner (kelvaro_admin) updates or deletes, as no one else is granted it. A
-- station's rows carry session_user, the login it authenticated as, which SET ROLE does not
-- change.
ALTER TABLE stations ENABLE ROW LEVEL SECURITY;
ALTER TABLE runs ENABLE ROW LEVEL SECURITY;
ALTER TABLE readings ENABLE ROW LEVEL SECURITY;
ALTER TABLE metadata ENABLE ROW LEVEL SECURITY;

CREATE POLICY read_all ON stations FOR SELECT TO kelvaro_station, kelvaro_desk USING (true);
CREATE POLICY read_all ON runs FOR SELECT TO kelvaro_station, kelvaro_desk USING (true);
CREATE POLICY read_all ON readings FOR SELECT TO kelvaro_station, kelvaro_desk USING (true);
CREATE POLICY read_all ON metadata FOR SELECT TO kelvaro_station, kelvaro_desk USING (true);

CREATE POLICY own_login ON stations FOR INSERT TO kelvaro_station
    WITH CHECK (login = session_user);
CREATE POLICY own_runs ON runs FOR INSERT TO kelvaro_station
    WITH CHECK (station = session_user);
CREATE POLICY own_runs ON readings FOR INSERT TO kelvaro_station
    WITH CHECK (EXISTS (SELECT 1 FROM runs r
                        WHERE r.run_id = readings.run_id AND r.station = session_user));
CREATE POLICY own_runs ON metadata FOR INSERT TO kelvaro_station
    WITH CHECK (station = session_user
                AND EXISTS (SELECT 1 FROM runs r
                            WHERE r.run_id = metadata.run_id AND r.station = session_user));

GRANT USAGE ON SCHEMA kelvaro TO kelvaro_station, kelvaro_desk;
GRANT SELECT ON schema_version, stations, runs, readings, metadata, tests
    TO kelvaro_station, kelvaro_desk;
GRANT INSERT ON stations, runs, readings, metadata TO kelvaro_station;

COMMIT;
