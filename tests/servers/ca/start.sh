#!/usr/bin/env bash
# Makes a throw-away test CA and a server certificate for 127.0.0.1, ::1 and localhost in STATE_DIR,
# for the TLS instances of nginx and vsftpd. Prints the export lines for env.sh on stdout, nothing
# else. The tests trust the CA the way a user would: SSL_CERT_FILE=$BW_TEST_CA_FILE.
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
mkdir -p "$state"
state=$(cd "$state" && pwd)
cd "$state"
quiet() { "$@" >/dev/null 2>>"$state/openssl.log"; }

if [ ! -f ca.pem ] || [ ! -f server.pem ]; then
    quiet openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/O=Bellwick Test/CN=Bellwick Test CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout ca.key -out ca.pem
    quiet openssl req -newkey rsa:2048 -nodes -subj "/O=Bellwick Test/CN=localhost" -keyout server.key -out server.csr
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\nextendedKeyUsage=serverAuth\n' > server.ext
    quiet openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
        -extfile server.ext -out server.pem
    chmod 0644 ca.pem server.pem
    chmod 0600 ca.key server.key
fi
echo "export BW_TEST_CA_FILE=$state/ca.pem"
echo "export BW_TEST_CA_KEY=$state/ca.key"
echo "export BW_TEST_TLS_CERT=$state/server.pem"
echo "export BW_TEST_TLS_KEY=$state/server.key"
