-- The lab server tests' logins, made as ADMIN.md says: two stations, a desk and the lab's IT.
CREATE ROLE estacao_a LOGIN PASSWORD 'senha-estacao_a' IN ROLE kelvaro_station;
CREATE ROLE estacao_b LOGIN PASSWORD 'senha-estacao_b' IN ROLE kelvaro_station;
CREATE ROLE mesa_1 LOGIN PASSWORD 'senha-mesa_1' IN ROLE kelvaro_desk;
CREATE ROLE ti_admin LOGIN PASSWORD 'senha-ti_admin' IN ROLE kelvaro_admin;
