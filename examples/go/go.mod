module grellanhost

go 1.19
